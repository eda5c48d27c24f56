#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/automation_error.h"
#include "engine/marl_doc.h"

namespace quill::test {

// Loads template text; returns the messages.
inline std::string loadText(MarlDoc& doc, std::string_view text, std::string opt = {}) {
  return doc.loadFile(text, "SOURCE_TYPE=1" + (opt.empty() ? "" : ";" + opt));
}

inline std::string startTag(const std::string& key) {
  return "<!-- MARL:HtmlPart _KEY=\"" + key + "\" _POSITION=\"START\" -->";
}
inline std::string endTag(const std::string& key) {
  return "<!-- MARL:HtmlPart _KEY=\"" + key + "\" _POSITION=\"END\" -->";
}

inline MarlPart& child(const MarlPart& p, int64_t index) { return *p.parts().part(index); }

// Runs f and returns the number of the automation error it raised (0 for none).
template <class F>
int32_t errorNumber(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace quill::test
