// Pieces of the part are read straight into expat's own buffer
// (XML_GetBuffer / XML_ParseBuffer), so a paused parse keeps its unparsed
// bytes there until it is resumed. Exceptions must not cross expat's C
// frames: a handler's exception is caught in the callback, the parse is
// stopped, and the exception is thrown again once expat has returned.
#include "generator/import/xml_stream.h"

#include <expat.h>

#include "generator/import/workbook_reader.h"

namespace quill {
namespace {

constexpr int kPieceBytes = 64 * 1024;

}  // namespace

XmlStream::XmlStream(ByteSource& source, XmlHandler& handler, const ZipPackage& package, std::string part)
    : source_(source), handler_(handler), package_(package), part_(std::move(part)),
      parser_(XML_ParserCreate(nullptr)) {
  if (!parser_) throw std::bad_alloc();
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, onStart, onEnd);
  XML_SetCharacterDataHandler(parser_, onCharacters);
  XML_SetStartDoctypeDeclHandler(parser_, onDoctype);
}

XmlStream::~XmlStream() { XML_ParserFree(parser_); }

void XmlStream::fail(std::exception_ptr error) {
  if (!error_) error_ = error;
  // Stopping a parse that is already stopping fails harmlessly.
  XML_StopParser(parser_, XML_FALSE);
}

void XmlStream::onStart(void* p, const char* name, const char** attributes) {
  auto* self = static_cast<XmlStream*>(p);
  if (self->error_) return;
  self->lastEvent_ = XML_GetCurrentByteIndex(self->parser_);
  try {
    self->handler_.startElement(name, attributes);
  } catch (...) {
    self->fail(std::current_exception());
  }
}

void XmlStream::onEnd(void* p, const char* name) {
  auto* self = static_cast<XmlStream*>(p);
  if (self->error_) return;
  self->lastEvent_ = XML_GetCurrentByteIndex(self->parser_);
  try {
    self->handler_.endElement(name);
  } catch (...) {
    self->fail(std::current_exception());
  }
}

void XmlStream::onCharacters(void* p, const char* text, int length) {
  auto* self = static_cast<XmlStream*>(p);
  if (self->error_) return;
  self->lastEvent_ = XML_GetCurrentByteIndex(self->parser_);
  try {
    self->handler_.characters(text, length);
  } catch (...) {
    self->fail(std::current_exception());
  }
}

void XmlStream::onDoctype(void* p, const char*, const char*, const char*, int) {
  auto* self = static_cast<XmlStream*>(p);
  self->doctype_ = true;
  XML_StopParser(self->parser_, XML_FALSE);
}

void XmlStream::pause() {
  if (pausing_ || error_) return;
  pausing_ = true;
  XML_StopParser(parser_, XML_TRUE);
}

void XmlStream::notWellFormed() {
  if (doctype_) package_.damaged("its part " + part_ + " holds a document type declaration");
  package_.damaged("its part " + part_ + " is not well-formed XML (line " +
                   std::to_string(XML_GetCurrentLineNumber(parser_)) + ", column " +
                   std::to_string(XML_GetCurrentColumnNumber(parser_) + 1) + ": " +
                   XML_ErrorString(XML_GetErrorCode(parser_)) + ")");
}

bool XmlStream::parse() {
  for (;;) {
    XML_Status status;
    pausing_ = false;
    if (suspended_) {
      suspended_ = false;
      status = XML_ResumeParser(parser_);
    } else if (inputEnded_) {
      return false;
    } else {
      if (fed_ - static_cast<uint64_t>(lastEvent_) > kMaxTagBytes)
        package_.damaged("its part " + part_ + " holds an XML tag of more than 64 MB");
      void* buffer = XML_GetBuffer(parser_, kPieceBytes);
      if (!buffer) throw std::bad_alloc();
      const size_t n = source_.read(static_cast<char*>(buffer), kPieceBytes);
      fed_ += n;
      inputEnded_ = n == 0;
      status = XML_ParseBuffer(parser_, static_cast<int>(n), inputEnded_);
    }
    if (error_) std::rethrow_exception(error_);
    if (status == XML_STATUS_ERROR) notWellFormed();
    if (status == XML_STATUS_SUSPENDED) {
      suspended_ = true;
      return true;
    }
  }
}

}  // namespace quill
