// The bytes the store will write are the two header bytes and the document
// text as UTF-16LE; they are compared with the file's bytes before anything
// is written. The backup goes to a temporary file that is renamed into
// place, so an old backup is never left half overwritten.
#include "generator/project/project_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/utf.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

std::string readBytes(const std::string& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeBackup(const std::string& backup, const std::string& bytes) {
  const std::string tmp = backup + ".tmp";
  {
    std::ofstream out(fs::path(tmp), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) {
      std::error_code ec;
      fs::rename(tmp, backup, ec);
      if (!ec) return;
    }
  }
  const std::string why = std::strerror(errno);
  std::error_code ignored;
  fs::remove(tmp, ignored);
  throw std::runtime_error("Cannot keep the project file's previous form as " + backup + ": " + why);
}

std::optional<TagSyntaxFault> faultOfBytes(const std::string& bytes) {
  if (bytes.size() <= 2) return std::nullopt;
  return findTagSyntaxFault(utf16ToUtf8(utf16leToString(std::string_view(bytes).substr(2))));
}

}  // namespace

std::optional<TagSyntaxFault> findFileSyntaxFault(const std::string& path) { return faultOfBytes(readBytes(path)); }

ProjectFileRewrite rewriteProjectFile(cvDomDoc& doc) {
  const std::string path = doc.filePath();
  const std::string old = readBytes(path);
  const auto header = doc.headerBytes();
  std::string fresh{static_cast<char>(header[0]), static_cast<char>(header[1])};
  fresh += stringToUtf16le(utf8ToUtf16(doc.documentText()));

  ProjectFileRewrite rewrite;
  if (old != fresh) {
    rewrite.damage = faultOfBytes(old);
    rewrite.backupPath = path + ".bak";
    writeBackup(rewrite.backupPath, old);
  }
  doc.saveDoc();
  return rewrite;
}

}  // namespace quill
