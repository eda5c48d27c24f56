// tagdoc: shows a tag document as UTF-8 text and builds one from UTF-8 text.
//
//   tagdoc print FILE        the document text, as UTF-8, on standard output
//   tagdoc build TEXT OUT    OUT = header bytes FF FE + TEXT as UTF-16LE
//
// Printing and building are exact inverses: print, then build, gives the
// same file byte for byte (for files with the header FF FE). Building refuses
// a text that is not in the strict form the programs write (tag_syntax.h),
// naming the line and column, since the programs' lenient reader would take
// it apart differently from what its author meant.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/utf.h"
#include "store/dom.h"
#include "store/tag_syntax.h"

namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "Usage: tagdoc print FILE\n"
    "       tagdoc build TEXT OUT\n"
    "\n"
    "Tag documents (ProjectDef.prj, qlang.xml, ...) are stored as UTF-16LE text\n"
    "after two header bytes.\n"
    "\n"
    "  print FILE       write the text of the tag document FILE to standard output\n"
    "                   as UTF-8, exactly as stored (no reformatting)\n"
    "  build TEXT OUT   write the tag document OUT (header bytes FF FE, UTF-16LE)\n"
    "                   from the UTF-8 text file TEXT ('-' reads standard input);\n"
    "                   TEXT must be well formed: one top-level element, attribute\n"
    "                   values in double quotes, &amp; &lt; &gt; &quot; &apos; for\n"
    "                   those characters, no comments\n"
    "  -h, --help       show this help\n";

bool readAll(const std::string& path, std::string& out) {
  if (path == "-") {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    out = ss.str();
    return true;
  }
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return static_cast<bool>(in) || in.eof();
}

int print(const std::string& path) {
  std::string bytes;
  if (!readAll(path, bytes)) {
    std::cerr << "tagdoc: cannot read " << path << "\n";
    return 1;
  }
  if (bytes.size() < 2) {
    std::cerr << "tagdoc: " << path << " is not a tag document (shorter than its header)\n";
    return 1;
  }
  if (bytes.size() % 2 != 0)
    std::cerr << "tagdoc: warning: " << path << " ends with half a character; it is left out\n";
  const std::string text = quill::utf16leToUtf8(std::string_view(bytes).substr(2));
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int build(const std::string& source, const std::string& out) {
  std::string text;
  if (!readAll(source, text)) {
    std::cerr << "tagdoc: cannot read " << source << "\n";
    return 1;
  }
  const std::string units = quill::utf8ToUtf16le(text);
  if (quill::utf16leToUtf8(units) != text) {
    std::cerr << "tagdoc: " << source << " is not valid UTF-8\n";
    return 1;
  }
  if (const auto fault = quill::findTagSyntaxFault(text)) {
    std::cerr << "tagdoc: " << source << ":" << fault->line << ":" << fault->column << ": " << fault->what
              << "\nNothing was written. Fix the text at that place and build again.\n";
    return 1;
  }
  const std::string tmp = out + ".tagdoc-tmp";
  {
    std::ofstream o(fs::path(tmp), std::ios::binary | std::ios::trunc);
    o.write("\xFF\xFE", 2);
    o.write(units.data(), static_cast<std::streamsize>(units.size()));
    o.close();
    if (!o) {
      std::error_code ec;
      fs::remove(tmp, ec);
      std::cerr << "tagdoc: cannot write " << out << "\n";
      return 1;
    }
  }
  std::error_code ec;
  fs::rename(tmp, out, ec);
  if (ec) {
    fs::remove(tmp, ec);
    std::cerr << "tagdoc: cannot write " << out << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "print") == 0) return print(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "build") == 0) return build(argv[2], argv[3]);
  std::cerr << kUsage;
  return 2;
}
