// Script files are read whole and decoded in one step: UTF-8 after its
// byte-order mark, otherwise UTF-16LE. The OutputFile statement quotes the
// folder as a Lua string literal with every byte that could end or change
// the literal escaped.
#include "script_text.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "common/utf.h"

namespace quill::script {

std::string decodeScriptBytes(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  std::u16string units = utf16leToString(bytes);
  std::u16string_view text(units);
  if (!text.empty() && text.front() == u'\xFEFF') text.remove_prefix(1);
  return utf16ToUtf8(text);
}

std::optional<std::string> readScriptFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.append(buffer, in.gcount());
  if (in.bad() || bytes.empty()) return std::nullopt;
  return decodeScriptBytes(bytes);
}

std::string luaStringLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          // Always three digits, so that a following digit cannot join the escape.
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\%03u", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

std::string outputFileStatement(std::string_view projectFolder) {
  return "OutputFile " + luaStringLiteral(projectFolder);
}

}  // namespace quill::script
