// INI files read and written whole on every access. A file is split into
// lines with their endings kept; reading walks them for the first section of
// the name and the key in it; writing replaces the key's line, or adds the
// key after the section's last non-blank line, or adds the section at the
// end, then writes the file anew beside the old one and renames it over, so
// untouched lines (and a UTF-8 byte-order mark) come back byte for byte.
#include "store/inifile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/ascii.h"
#include "store/node_members.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// One line of the file, its ending kept so that untouched lines are written
// back byte for byte.
struct Line {
  std::string_view body;    // without the line ending
  std::string_view ending;  // "\r\n", "\n" or "" for the last line
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({text.substr(pos), {}});
      break;
    }
    size_t end = nl;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({text.substr(pos, end - pos), text.substr(end, nl + 1 - end)});
    pos = nl + 1;
  }
  return lines;
}

// The section name of a "[name]" line.
bool sectionOf(std::string_view line, std::string_view& name) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  const size_t close = line.find(']');
  name = trim(close == std::string_view::npos ? line : line.substr(0, close));
  return true;
}

bool keyOf(std::string_view line, std::string_view& key, std::string_view& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = trim(line.substr(0, eq));
  value = trim(line.substr(eq + 1));
  return true;
}

bool readFile(const std::string& file, std::string& text) {
  if (file.empty()) return false;
  std::ifstream in(fs::path(file), std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return true;
}

size_t bomLength(std::string_view text) { return text.starts_with("\xEF\xBB\xBF") ? 3 : 0; }

// Cuts text to at most limit bytes without splitting a UTF-8 character.
void cutTo(std::string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

}  // namespace

namespace ini {

std::optional<std::string> readValue(const std::string& file, std::string_view section, std::string_view key,
                                     size_t limit) {
  std::string text;
  if (!readFile(file, text)) return std::nullopt;
  section = trim(section);
  key = trim(key);
  bool inSection = false;
  for (const Line& line : splitLines(std::string_view(text).substr(bomLength(text)))) {
    std::string_view name;
    if (sectionOf(line.body, name)) {
      if (inSection) return std::nullopt;  // the first section of that name ended
      inSection = equalsIgnoringAsciiCase(name, section);
      continue;
    }
    std::string_view k, v;
    if (!inSection || !keyOf(line.body, k, v) || !equalsIgnoringAsciiCase(k, key)) continue;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    std::string value(v);
    cutTo(value, limit);
    return value;
  }
  return std::nullopt;
}

bool writeValue(const std::string& file, std::string_view section, std::string_view key,
                std::string_view value) {
  if (file.empty()) return false;
  std::string text;
  readFile(file, text);  // a missing file is created
  section = trim(section);
  key = trim(key);
  const std::string entry = std::string(key) + "=" + std::string(value);

  const std::string_view all(text);
  const size_t bom = bomLength(all);
  std::vector<Line> lines = splitLines(all.substr(bom));
  std::string out(all.substr(0, bom));
  out.reserve(text.size() + entry.size() + section.size() + 8);

  // Find the section, its key line and the last non-blank line inside it.
  ptrdiff_t sectionLine = -1, keyLine = -1, lastLine = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (sectionOf(lines[i].body, name)) {
      if (sectionLine >= 0) break;
      if (equalsIgnoringAsciiCase(name, section)) sectionLine = lastLine = static_cast<ptrdiff_t>(i);
      continue;
    }
    if (sectionLine < 0) continue;
    std::string_view k, v;
    if (keyOf(lines[i].body, k, v) && equalsIgnoringAsciiCase(k, key)) {
      keyLine = static_cast<ptrdiff_t>(i);
      break;
    }
    if (!trim(lines[i].body).empty()) lastLine = static_cast<ptrdiff_t>(i);
  }

  auto appendLine = [&](const Line& l) {
    out.append(l.body);
    out.append(l.ending);
  };
  if (keyLine >= 0) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (static_cast<ptrdiff_t>(i) == keyLine) {
        out.append(entry);
        out.append(lines[i].ending.empty() ? std::string_view("\r\n") : lines[i].ending);
      } else {
        appendLine(lines[i]);
      }
    }
  } else if (sectionLine >= 0) {
    for (size_t i = 0; i < lines.size(); ++i) {
      appendLine(lines[i]);
      if (static_cast<ptrdiff_t>(i) == lastLine) {
        if (lines[i].ending.empty()) out.append("\r\n");
        out.append(entry);
        out.append("\r\n");
      }
    }
  } else {
    for (const Line& l : lines) appendLine(l);
    if (!lines.empty() && lines.back().ending.empty()) out.append("\r\n");
    out.append("[");
    out.append(section);
    out.append("]\r\n");
    out.append(entry);
    out.append("\r\n");
  }

  // Replace the file as a whole, so that a failed write leaves the old one.
  const std::string tmp = file + ".tmp-ini";
  {
    std::ofstream o(fs::path(tmp), std::ios::binary | std::ios::trunc);
    if (!o) return false;
    o.write(out.data(), static_cast<std::streamsize>(out.size()));
    o.close();
    if (!o) {
      std::error_code ec;
      fs::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  const auto st = fs::status(file, ec);
  if (!ec && fs::is_regular_file(st)) fs::permissions(tmp, st.permissions(), ec);
  ec.clear();
  fs::rename(tmp, file, ec);
  if (ec) {
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

}  // namespace ini

IniNodeRef cvIniFile::root(std::string section) {
  auto n = std::make_shared<cvIniNode>();
  n->setLocation(std::static_pointer_cast<cvIniFile>(weak_from_this().lock()), std::move(section));
  return n;
}

std::string cvIniNode::getAttr(std::string_view name, std::string_view defaultValue) const {
  std::optional<std::string> value = ini::readValue(fileName(), section_, name);
  if (!value) {
    // An absent key yields the default, without its trailing blanks, as far
    // as it fits the buffer.
    std::string_view d = defaultValue;
    while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
    value.emplace(d);
    cutTo(*value, 1023);
  }
  if (value->empty()) return std::string(defaultValue);
  return *std::move(value);
}

bool cvIniNode::setAttr(std::string_view name, std::string_view value) const {
  return ini::writeValue(fileName(), section_, name, value);
}

IniNodeRef cvIniNode::node(std::string_view key) const {
  auto n = std::make_shared<cvIniNode>();
  n->setLocation(file_, section_ + "_" + std::string(key));
  return n;
}

const ClassInfo& cvIniFile::classInfo() const {
  using F = cvIniFile;
  static const ClassInfo info = [] {
    ClassInfo c("cvIniFile");
    c.property<F>(
        "IniFileName", [](F& f) { return Variant(f.IniFileName); },
        [](F& f, const Variant& v) { f.IniFileName = v.toText(); });
    c.indexedProperty<F>("Root", 1, [](F& f, Args a) { return Variant(ObjectRef(f.root(a[0].toText()))); });
    return c;
  }();
  return info;
}

const ClassInfo& cvIniNode::classInfo() const {
  using I = cvIniNode;
  static const ClassInfo info = [] {
    ClassInfo c("cvIniNode");
    detail::addGetAttr<I>(c);
    c.method<I>("SetAttr", 2, [](I& n, Args a) {
      const std::string name = a[0].toText();
      // Like the platform's profile function, SetAttr reports nothing.
      static_cast<void>(n.setAttr(name, a[1].toText()));
      return Variant();
    });
    c.method<I>("Node", 1, [](I& n, Args a) { return Variant(ObjectRef(n.node(a[0].toText()))); });
    detail::addCallerData<I>(c);
    return c;
  }();
  return info;
}

}  // namespace quill
