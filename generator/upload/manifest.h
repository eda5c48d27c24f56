// The manifest that sync mode keeps on the server, beside the site it
// published: <site folder>/.quillant-manifest. It lists every file the
// program published there, with its size and SHA-256, so that the next
// publish sends only what changed and deletes only what it put there.
//
// The file is UTF-8 text, one line per entry, lines ended by LF:
//
//   quillant-manifest 1
//   <size> <sha256> <path>
//   ...
//   end <number of entries>
//
// <size> is the file's length in bytes (decimal), <sha256> its 64 lower-case
// hexadecimal digits, <path> the rest of the line: the file's path below the
// site folder, folders separated by "/", as the pages link it (it may hold
// blanks). Entries are sorted by path, byte by byte. The closing "end" line
// shows that the file was read to its end.
//
// A text that breaks any of these rules is refused as a whole (ManifestError
// says what and on which line): a path that climbs out of the site folder
// ("..", a leading "/"), an empty folder name, a control character, a
// repeated path, a missing or wrong "end" line. The caller then knows
// nothing about the server, which is the safe way to be wrong: everything
// is sent and nothing is deleted.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

struct ManifestEntry {
  std::string path;    // below the site folder, "/" between folders, UTF-8
  int64_t size = 0;
  std::string sha256;  // 64 lower-case hexadecimal digits
};

class ManifestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Manifest {
 public:
  // The manifest's name in the site folder, and the name it is stored under
  // until it is complete.
  static constexpr const char* kFileName = ".quillant-manifest";
  static constexpr const char* kPartFileName = ".quillant-manifest.part";
  // A text longer than this is not a manifest this program wrote (a million
  // files make about 100 MB).
  static constexpr int64_t kMaxBytes = 256LL << 20;

  Manifest() = default;
  // Sorts the entries; ManifestError for a repeated or unsafe path or a bad
  // hash.
  explicit Manifest(std::vector<ManifestEntry> entries);
  // Reads a manifest's text; ManifestError when it breaks the format.
  static Manifest parse(std::string_view text);
  std::string text() const;

  const std::vector<ManifestEntry>& entries() const { return entries_; }
  // The entry of a path, or nullptr.
  const ManifestEntry* find(std::string_view path) const;

 private:
  std::vector<ManifestEntry> entries_;  // sorted by path
};

// Whether a relative path stays inside the site folder and can be written on
// one line: not empty, no leading "/", no empty, "." or ".." folder name
// (with "\" counted as a separator too, as some servers do), no control
// character.
bool isSafeSitePath(std::string_view path);

}  // namespace quill
