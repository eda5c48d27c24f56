// Registry nodes: a node-style view of a per-user key/value store with the
// open, query, create, set and delete behaviour of the platform registry.
//
// The store is an SQLite file: $QUILLANT_REGISTRY, else
// $XDG_CONFIG_HOME/quillant/registry.db, else ~/.config/quillant/registry.db.
// Every call opens it, does one thing in one transaction and closes it; no
// failure raises an error (reads fall back to the default, writes report
// false).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/dispatch.h"

namespace quill {

enum HKEY_TYPE : uint32_t {
  HKEY_CLASSES_ROOT = 0x80000000u,
  HKEY_CURRENT_USER = 0x80000001u,
  HKEY_LOCAL_MACHINE = 0x80000002u,
  HKEY_USERS = 0x80000003u,
  HKEY_PERFORMANCE_DATA = 0x80000004u,
  HKEY_CURRENT_CONFIG = 0x80000005u,
  HKEY_DYN_DATA = 0x80000006u,
};

// The store file currently in use (from the environment, read at each call).
std::string registryPath();

// The low-level operations, each one complete call on the store. A key path
// is key names joined by backslashes, each name 1 to 255 bytes.
namespace registry {
// True when the key exists (the empty path is the root key itself).
[[nodiscard]] bool openKey(uint32_t root, std::string_view path);
// The raw bytes of a value, when the key and value exist and the value fits
// in `capacity` bytes.
std::optional<std::string> queryValue(uint32_t root, std::string_view path, std::string_view name,
                                      size_t capacity);
// Creates the key and every missing key above it, then writes the value;
// true on success.
[[nodiscard]] bool createAndSet(uint32_t root, std::string_view path, std::string_view name,
                                std::string_view bytes);
// Deletes a key that has no subkeys, with its values; true on success.
[[nodiscard]] bool deleteKey(uint32_t root, std::string_view path);
}  // namespace registry

class cvRegNode;
using RegNodeRef = std::shared_ptr<cvRegNode>;

class cvRegNode : public Dispatch {
 public:
  static RegNodeRef create(uint32_t root, std::string keyPath = {});

  void setLocation(uint32_t root, std::string keyPath) {
    root_ = root;
    keyPath_ = std::move(keyPath);
  }
  uint32_t rootKey() const noexcept { return root_; }
  const std::string& keyPath() const noexcept { return keyPath_; }

  // Whether the key at path `key` below the root key (not below this node) exists.
  [[nodiscard]] bool keyExists(std::string_view key) const;
  // A node for the subkey `key` of this node's key.
  RegNodeRef node(std::string_view key) const;
  // The value (text up to its first zero byte), or defaultValue when it
  // cannot be read or is 1024 bytes or longer.
  std::string getAttr(std::string_view name, std::string_view defaultValue = {}) const;
  // Writes a text value, creating the key path; true on success.
  [[nodiscard]] bool setAttr(std::string_view name, std::string_view value) const;

  int32_t data = 0;
  Variant dataVariant;

  const ClassInfo& classInfo() const override;

 private:
  uint32_t root_ = HKEY_LOCAL_MACHINE;
  std::string keyPath_;
};

class cvRegister : public Dispatch {
 public:
  static std::shared_ptr<cvRegister> create() { return std::make_shared<cvRegister>(); }

  // Deletes the key at path `key` below HKEY_LOCAL_MACHINE; true on success.
  [[nodiscard]] bool deleteReg(std::string_view key) const { return registry::deleteKey(HKEY_LOCAL_MACHINE, key); }
  // A new node for a root key, with an empty key path.
  RegNodeRef root(uint32_t rootKey) const { return cvRegNode::create(rootKey); }

  const ClassInfo& classInfo() const override;
};

}  // namespace quill
