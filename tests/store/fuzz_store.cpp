// libFuzzer target (built with -DQUILLANT_FUZZ=ON and clang): any bytes as a
// tag document file for ReadDoc, and as a text for Value, must either read
// or raise the store's error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "store/dom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/quillant-store-fuzz-" + std::to_string(::getpid()) + ".xml";
  }();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  try {
    quill::cvDomDoc doc;
    doc.readDoc(path);
    (void)doc.documentText();
  } catch (const quill::AutomationError& e) {
    if (e.number() != 19999) std::abort();
  }
  try {
    auto node = quill::cvDomNode::create("n");
    node->setValue(bytes);
    (void)node->value();
  } catch (const quill::AutomationError& e) {
    if (e.number() != quill::kInvalidCall && e.number() != quill::kObjectNotSet) std::abort();
  }
  return 0;
}
