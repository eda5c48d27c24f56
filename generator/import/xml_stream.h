// A part of a zip package parsed as XML while it streams in, with expat.
// Element and attribute names arrive as written ("table:table-cell", "c");
// the formats' writers declare their namespaces on the root element, where
// a reader that needs them finds the prefixes (expat's own namespace
// processing costs a fifth of the parse). A handler may pause the parse and
// the caller resume it later, which lets one part that holds many
// worksheets (.ods) be read worksheet by worksheet.
#pragma once

#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "generator/import/zip_package.h"

struct XML_ParserStruct;

namespace quill {

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  // attributes: name, value, name, value, ..., nullptr.
  virtual void startElement(const char* name, const char** attributes) = 0;
  virtual void endElement(const char* name) = 0;
  virtual void characters(const char* text, int length) = 0;
};

// The local part of a qualified name.
inline std::string_view localName(const char* name) {
  const char* colon = std::strchr(name, ':');
  return colon ? colon + 1 : name;
}

// The value of the attribute named name, or nullptr.
inline const char* attribute(const char** attributes, const char* name) {
  for (; *attributes; attributes += 2)
    if (std::strcmp(*attributes, name) == 0) return attributes[1];
  return nullptr;
}

class XmlStream {
 public:
  // The largest single tag (with its attributes) that is accepted; expat
  // holds a whole tag in memory.
  static constexpr size_t kMaxTagBytes = 64u << 20;

  XmlStream(ByteSource& source, XmlHandler& handler, const ZipPackage& package, std::string part);
  ~XmlStream();
  XmlStream(const XmlStream&) = delete;
  XmlStream& operator=(const XmlStream&) = delete;

  // Parses until the document ends (returns false) or a handler pauses
  // (returns true). Throws WorkbookError for XML that is not well formed and
  // for a document type declaration (which the formats never use);
  // exceptions thrown by the handler pass through.
  bool parse();

  // From within a handler: makes parse() return true after this event.
  // A few further events may still arrive first (the end of an empty
  // element whose start paused).
  void pause();

 private:
  static void onStart(void* self, const char* name, const char** attributes);
  static void onEnd(void* self, const char* name);
  static void onCharacters(void* self, const char* text, int length);
  static void onDoctype(void* self, const char*, const char*, const char*, int);
  void fail(std::exception_ptr error);
  [[noreturn]] void notWellFormed();

  ByteSource& source_;
  XmlHandler& handler_;
  const ZipPackage& package_;
  std::string part_;
  XML_ParserStruct* parser_;
  std::exception_ptr error_;
  bool doctype_ = false;
  bool pausing_ = false;
  bool suspended_ = false;
  bool inputEnded_ = false;
  uint64_t fed_ = 0;        // bytes handed to expat
  int64_t lastEvent_ = 0;  // where the last event was
};

}  // namespace quill
