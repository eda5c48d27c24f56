// A CodeConverter wraps one iconv descriptor. Input is appended to pending_
// and converted from its front; iconv stops at a character cut by the end of
// a block (EINVAL), which then stays in pending_ for the next block. A byte
// iconv refuses becomes '?' and conversion goes on after it. finish()
// converts what is left and asks iconv for the closing shift sequence (JIS).
#include "ftpcontrol/code_converter.h"

#include <cerrno>
#include <iconv.h>
#include <utility>

namespace quill {

const char* iconvCodeName(const QString& code) {
  if (code == QLatin1String("EUC")) return "EUC-JP-MS";
  if (code == QLatin1String("SJIS")) return "CP932";
  if (code == QLatin1String("JIS")) return "ISO-2022-JP";
  return nullptr;
}

CodeConverter::CodeConverter(const char* to, const char* from) {
  if (!to || !from) return;
  iconv_t cd = iconv_open(to, from);
  if (cd != reinterpret_cast<iconv_t>(-1)) cd_ = cd;
}

CodeConverter::~CodeConverter() {
  if (cd_) iconv_close(static_cast<iconv_t>(cd_));
}

CodeConverter::CodeConverter(CodeConverter&& other) noexcept
    : cd_(std::exchange(other.cd_, nullptr)), pending_(std::move(other.pending_)) {}

CodeConverter& CodeConverter::operator=(CodeConverter&& other) noexcept {
  if (this != &other) {
    if (cd_) iconv_close(static_cast<iconv_t>(cd_));
    cd_ = std::exchange(other.cd_, nullptr);
    pending_ = std::move(other.pending_);
  }
  return *this;
}

void CodeConverter::run(QByteArray& out, bool final) {
  iconv_t cd = static_cast<iconv_t>(cd_);
  char* in = pending_.data();
  size_t inLeft = static_cast<size_t>(pending_.size());
  qsizetype used = out.size();
  out.resize(used + static_cast<qsizetype>(inLeft) * 4 + 16);
  while (inLeft > 0) {
    char* dst = out.data() + used;
    size_t outLeft = static_cast<size_t>(out.size() - used);
    size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    used = dst - out.data();
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2 + 16);
    } else if (errno == EINVAL && !final) {
      break;  // incomplete character: wait for more bytes
    } else {
      // Invalid (or, at the end, incomplete) sequence: mark it and go on.
      if (out.size() - used < 1) out.resize(out.size() + 16);
      out[used++] = '?';
      ++in;
      --inLeft;
    }
  }
  out.resize(used);
  pending_.remove(0, pending_.size() - static_cast<qsizetype>(inLeft));
}

QByteArray CodeConverter::convert(const QByteArray& in) {
  if (!cd_) return in;
  pending_.append(in);
  QByteArray out;
  run(out, false);
  return out;
}

QByteArray CodeConverter::finish() {
  if (!cd_) return {};
  QByteArray out;
  run(out, true);
  char buf[32];
  char* dst = buf;
  size_t outLeft = sizeof buf;
  iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, &dst, &outLeft);
  out.append(buf, dst - buf);
  reset();
  return out;
}

void CodeConverter::reset() {
  pending_.clear();
  if (cd_) iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, nullptr, nullptr);
}

QByteArray convertAll(const char* to, const char* from, const QByteArray& in) {
  CodeConverter c(to, from);
  if (c.isIdentity()) return in;
  QByteArray out = c.convert(in);
  out.append(c.finish());
  return out;
}

}  // namespace quill
