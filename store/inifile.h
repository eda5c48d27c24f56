// INI file nodes: a node is a section, its attributes are the section's keys,
// child nodes are sections named parent + "_" + key. Every access reads or
// writes the file itself; nothing is cached.
//
// The reader and writer follow the usual profile-file rules: section and key
// names compare without regard to ASCII case, values are trimmed (and a pair
// of surrounding quotes removed), a write creates the file and the section
// when missing, and a value read is cut to 1023 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/dispatch.h"

namespace quill {

namespace ini {
// The value of key in section, or nothing when the file, section or key is
// missing. The value is cut to at most `limit` bytes (never inside a UTF-8
// character).
std::optional<std::string> readValue(const std::string& file, std::string_view section, std::string_view key,
                                     size_t limit = 1023);
// Writes key = value into section, creating file and section when missing;
// true on success.
[[nodiscard]] bool writeValue(const std::string& file, std::string_view section, std::string_view key,
                              std::string_view value);
}  // namespace ini

class cvIniNode;
using IniNodeRef = std::shared_ptr<cvIniNode>;

class cvIniFile : public Dispatch {
 public:
  static std::shared_ptr<cvIniFile> create() { return std::make_shared<cvIniFile>(); }

  std::string IniFileName;

  // A new node for section `section` of this file.
  IniNodeRef root(std::string section);

  const ClassInfo& classInfo() const override;
};

class cvIniNode : public Dispatch {
 public:
  void setLocation(std::shared_ptr<cvIniFile> file, std::string section) {
    file_ = std::move(file);
    section_ = std::move(section);
  }
  const std::string& section() const noexcept { return section_; }
  const std::shared_ptr<cvIniFile>& file() const noexcept { return file_; }

  // Value of key in this section, or defaultValue when absent or empty.
  std::string getAttr(std::string_view name, std::string_view defaultValue = {}) const;
  // Writes key = value into this section; true on success (the late-bound
  // SetAttr reports nothing).
  [[nodiscard]] bool setAttr(std::string_view name, std::string_view value) const;
  // A new node of the same file for section own section + "_" + key.
  IniNodeRef node(std::string_view key) const;

  int32_t data = 0;
  Variant dataVariant;

  const ClassInfo& classInfo() const override;

 private:
  std::string fileName() const { return file_ ? file_->IniFileName : std::string(); }

  std::shared_ptr<cvIniFile> file_;
  std::string section_;
};

}  // namespace quill
