// The errors the store raises, in one place: the tag document classes raise
// 10000 + a code, ReadDoc turns every failure into 19999, and SaveDoc raises
// 10000 + the run-time error number of its cause. Registry and INI nodes
// raise nothing (their failures read as defaults or report false).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/automation_error.h"

namespace quill {

enum StoreError : int32_t {
  kStoreErrorBase = 10000,
  kWrongTagName = 10002,   // Node: no child of that name (strict); CreateNode: empty name
  kWrongPosition = 10005,  // Node: a position below 0 or beyond the last child
  kWrongAttrName = 10006,  // GetAttr, SetAttr: no attribute of that name (strict)
  kReadDocFailed = 19999,  // ReadDoc: any failure, with the cause as description
};

// The sources the errors carry.
inline constexpr const char* kStoreComponent = "cvSystemDB";  // run-time errors of the store
inline constexpr const char* kNodeSource = "cvDomNode.Node";
inline constexpr const char* kAttrSource = "DomNode.SetAttr";  // GetAttr raises it too
inline constexpr const char* kReadDocSource = "ReadDoc";
inline constexpr const char* kSaveDocSource = "clxDom->SaveDoc";

// 10002 or 10005: "Wrong Tag Name of "<index>"".
inline AutomationError wrongTagName(StoreError number, std::string_view index) {
  return AutomationError(number, kNodeSource, "Wrong Tag Name of \"" + std::string(index) + "\"");
}

inline AutomationError wrongAttrName(std::string_view name) {
  return AutomationError(kWrongAttrName, kAttrSource, "Wrong AttrName of " + std::string(name));
}

inline AutomationError readDocError(std::string description) {
  return AutomationError(kReadDocFailed, kReadDocSource, std::move(description));
}
inline AutomationError readDocError(RuntimeError cause) { return readDocError(runtimeErrorText(cause)); }

// 10007 out of memory, 10061 disk full, 10075 path/file access error,
// 10076 path not found, 10091 no root to save.
inline AutomationError saveDocError(RuntimeError cause) {
  return AutomationError(int32_t{kStoreErrorBase} + cause, kSaveDocSource, runtimeErrorText(cause));
}

}  // namespace quill
