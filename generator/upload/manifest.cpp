// The text is read line by line in one pass: the header, the entries (each
// checked and compared with the one before, which both keeps the order and
// finds repeats), then the "end" line, after which nothing may follow.
// Lookups are binary searches in the sorted entries.
#include "generator/upload/manifest.h"

#include <algorithm>
#include <charconv>

namespace quill {

namespace {

constexpr std::string_view kHeader = "quillant-manifest 1";
constexpr std::string_view kEnd = "end ";
constexpr size_t kHashDigits = 64;

bool isHash(std::string_view s) {
  return s.size() == kHashDigits &&
         std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool readCount(std::string_view s, int64_t& value) {
  if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size() && value >= 0;
}

[[noreturn]] void refuse(size_t line, const std::string& what) {
  throw ManifestError("line " + std::to_string(line) + ": " + what);
}

void check(const ManifestEntry& e) {
  if (!isSafeSitePath(e.path)) throw ManifestError("unsafe path \"" + e.path + "\"");
  if (!isHash(e.sha256)) throw ManifestError("bad SHA-256 for \"" + e.path + "\"");
  if (e.size < 0) throw ManifestError("negative size for \"" + e.path + "\"");
}

}  // namespace

bool isSafeSitePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size()) {
      const unsigned char c = static_cast<unsigned char>(path[i]);
      if (c < 0x20 || c == 0x7f) return false;
      if (c != '/' && c != '\\') continue;
    }
    const std::string_view name = path.substr(start, i - start);
    if (name.empty() || name == "." || name == "..") return false;
    start = i + 1;
  }
  return true;
}

Manifest::Manifest(std::vector<ManifestEntry> entries) : entries_(std::move(entries)) {
  std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  for (size_t i = 0; i < entries_.size(); ++i) {
    check(entries_[i]);
    if (i > 0 && entries_[i].path == entries_[i - 1].path)
      throw ManifestError("\"" + entries_[i].path + "\" is listed twice");
  }
}

Manifest Manifest::parse(std::string_view text) {
  if (static_cast<int64_t>(text.size()) > kMaxBytes) throw ManifestError("larger than a manifest can be");
  Manifest m;
  size_t lineNo = 0;
  size_t pos = 0;
  bool ended = false;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // edited on a system with CR LF
    if (ended) refuse(lineNo, "text after the end line");
    if (lineNo == 1) {
      if (line != kHeader) refuse(lineNo, "not a quillant manifest of version 1");
      continue;
    }
    if (line.substr(0, kEnd.size()) == kEnd) {
      int64_t count = 0;
      if (!readCount(line.substr(kEnd.size()), count) || count != static_cast<int64_t>(m.entries_.size()))
        refuse(lineNo, "the end line does not match the " + std::to_string(m.entries_.size()) + " entries");
      ended = true;
      continue;
    }
    const size_t blank1 = line.find(' ');
    const size_t blank2 = blank1 == std::string_view::npos ? blank1 : line.find(' ', blank1 + 1);
    if (blank2 == std::string_view::npos) refuse(lineNo, "not \"size sha256 path\"");
    ManifestEntry e;
    if (!readCount(line.substr(0, blank1), e.size)) refuse(lineNo, "bad size");
    e.sha256 = std::string(line.substr(blank1 + 1, blank2 - blank1 - 1));
    e.path = std::string(line.substr(blank2 + 1));
    try {
      check(e);
    } catch (const ManifestError& err) {
      refuse(lineNo, err.what());
    }
    if (!m.entries_.empty() && !(m.entries_.back().path < e.path))
      refuse(lineNo, "\"" + e.path + "\" is out of order or repeated");
    m.entries_.push_back(std::move(e));
  }
  if (lineNo == 0) throw ManifestError("empty");
  if (!ended) throw ManifestError("cut short: no end line");
  return m;
}

std::string Manifest::text() const {
  std::string out(kHeader);
  out += '\n';
  for (const ManifestEntry& e : entries_) {
    out += std::to_string(e.size);
    out += ' ';
    out += e.sha256;
    out += ' ';
    out += e.path;
    out += '\n';
  }
  out += kEnd;
  out += std::to_string(entries_.size());
  out += '\n';
  return out;
}

const ManifestEntry* Manifest::find(std::string_view path) const {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), path,
                                   [](const ManifestEntry& e, std::string_view p) { return e.path < p; });
  return it != entries_.end() && it->path == path ? &*it : nullptr;
}

}  // namespace quill
