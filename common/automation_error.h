// The one error type that crosses component boundaries: a number, a source
// and a description, as automation clients expect them. Store errors are
// 10000 + code, template engine errors 8000 + code, FTP control errors keep
// their small numbers; run-time errors of the scripting model (9, 13, ...)
// keep theirs and carry their standard descriptions.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quill {

class AutomationError : public std::runtime_error {
 public:
  AutomationError(int32_t number, std::string source, std::string description);

  int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// Run-time error numbers of the scripting model, with their standard texts.
enum RuntimeError : int32_t {
  kInvalidCall = 5,          // "Invalid procedure call or argument"
  kOverflow = 6,             // "Overflow"
  kOutOfMemory = 7,          // "Out of memory"
  kSubscriptOutOfRange = 9,  // "Subscript out of range"
  kTypeMismatch = 13,        // "Type mismatch"
  kFileNotFound = 53,        // "File not found"
  kDiskFull = 61,            // "Disk full"
  kInputPastEndOfFile = 62,  // "Input past end of file"
  kPermissionDenied = 70,    // "Permission denied"
  kPathFileAccess = 75,      // "Path/File access error"
  kPathNotFound = 76,        // "Path not found"
  kObjectNotSet = 91,        // "Object variable or With block variable not set"
  kInvalidUseOfNull = 94,    // "Invalid use of Null"
  kCannotCreateObject = 429, // "ActiveX component can't create object"
  kNoSuchMember = 438,       // "Object doesn't support this property or method"
  kArgumentNotOptional = 449,// "Argument not optional"
  kWrongArgumentCount = 450, // "Wrong number of arguments or invalid property assignment"
};

// The standard description of a run-time error number ("" when unknown).
const char* runtimeErrorText(int32_t number) noexcept;

// A run-time error with its standard description.
AutomationError runtimeError(int32_t number, std::string source = {});

}  // namespace quill
