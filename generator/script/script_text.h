// Script files and the statement that starts a script.
//
// Script files are UTF-16LE (two bytes per character, low byte first); a file
// that begins with the UTF-8 byte-order mark is UTF-8. The host works in
// UTF-8, so every script is decoded to UTF-8 before it is compiled.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quill::script {

// The script text held by a script file's bytes, as UTF-8:
//   - bytes starting with EF BB BF: the rest, taken as UTF-8;
//   - otherwise UTF-16LE, an odd last byte dropped and a leading FF FE
//     (byte-order mark) skipped. Lone surrogates survive the conversion.
std::string decodeScriptBytes(std::string_view bytes);

// Reads and decodes a script file. Nothing when the file is missing,
// unreadable or empty (a script file holds at least one byte).
std::optional<std::string> readScriptFile(const std::filesystem::path& path);

// A Lua string literal (double-quoted) that reads back as exactly `text`:
// quotes, backslashes and control characters are escaped, other bytes
// (UTF-8 sequences included) are kept as they are.
std::string luaStringLiteral(std::string_view text);

// The statement that runs a script: OutputFile "<folder>", the folder
// written as a Lua string literal.
std::string outputFileStatement(std::string_view projectFolder);

}  // namespace quill::script
