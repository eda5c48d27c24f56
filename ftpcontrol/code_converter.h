// Streaming character-code conversion over iconv. The control's own texts are
// UTF-8; servers and files may use EUC-JP, Shift-JIS or JIS (ISO-2022-JP).
#pragma once

#include <QByteArray>
#include <QString>

namespace quill {

// The iconv name of one of the control's code names: "EUC", "SJIS", "JIS".
// Anything else gives nullptr: no conversion ("BIN" for file data, and
// "UTF8", which is the local code itself).
const char* iconvCodeName(const QString& code);

// Converts a byte stream block by block. A multi-byte character cut at the
// end of a block is held back until the next block; bytes that are not valid
// in the source code become '?', so a stream never stalls.
class CodeConverter {
 public:
  CodeConverter() = default;
  // to/from are iconv names; nullptr on either side means pass-through.
  CodeConverter(const char* to, const char* from);
  ~CodeConverter();
  CodeConverter(const CodeConverter&) = delete;
  CodeConverter& operator=(const CodeConverter&) = delete;
  CodeConverter(CodeConverter&& other) noexcept;
  CodeConverter& operator=(CodeConverter&& other) noexcept;

  bool isIdentity() const noexcept { return cd_ == nullptr; }
  // Converts what forms complete characters; keeps an incomplete tail.
  QByteArray convert(const QByteArray& in);
  // Converts what is left (an incomplete tail becomes '?'), writes the
  // closing shift sequence of a stateful code and starts afresh.
  QByteArray finish();
  // Drops held bytes and shift state.
  void reset();

 private:
  void run(QByteArray& out, bool final);

  void* cd_ = nullptr;  // iconv_t
  QByteArray pending_;
};

// One-shot conversion of a complete text.
QByteArray convertAll(const char* to, const char* from, const QByteArray& in);

}  // namespace quill
