// The automation error type and the standard texts of the scripting model's
// run-time errors: a switch from number to text, so that every component
// raises error 9 or 75 with the same words.
#include "automation_error.h"

#include <utility>

namespace quill {

AutomationError::AutomationError(int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

const char* runtimeErrorText(int32_t number) noexcept {
  switch (number) {
    case kInvalidCall: return "Invalid procedure call or argument";
    case kOverflow: return "Overflow";
    case kOutOfMemory: return "Out of memory";
    case kSubscriptOutOfRange: return "Subscript out of range";
    case kTypeMismatch: return "Type mismatch";
    case kFileNotFound: return "File not found";
    case kDiskFull: return "Disk full";
    case kInputPastEndOfFile: return "Input past end of file";
    case kPermissionDenied: return "Permission denied";
    case kPathFileAccess: return "Path/File access error";
    case kPathNotFound: return "Path not found";
    case kObjectNotSet: return "Object variable or With block variable not set";
    case kInvalidUseOfNull: return "Invalid use of Null";
    case kCannotCreateObject: return "ActiveX component can't create object";
    case kNoSuchMember: return "Object doesn't support this property or method";
    case kArgumentNotOptional: return "Argument not optional";
    case kWrongArgumentCount: return "Wrong number of arguments or invalid property assignment";
    default: return "";
  }
}

AutomationError runtimeError(int32_t number, std::string source) {
  return AutomationError(number, std::move(source), runtimeErrorText(number));
}

}  // namespace quill
