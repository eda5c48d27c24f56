// Insertion-ordered map with case-sensitive keys: the one keyed collection
// behind attributes, variables, catalogue groupings and every other table
// whose order of insertion is also its order of output.
//
// Entries live in a vector, so iteration and positional access are plain
// array walks. Small maps (most attribute and variable tables hold a handful
// of entries) are searched linearly; a hash index is built only once a map
// grows past a few entries.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quill {

namespace detail {
template <class K>
struct KeyTraits {
  using Lookup = K;
  using Hash = std::hash<K>;
  using Equal = std::equal_to<K>;
};
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <>
struct KeyTraits<std::string> {
  using Lookup = std::string_view;
  using Hash = StringHash;
  using Equal = std::equal_to<>;
};
}  // namespace detail

template <class K, class V>
class OrderedMap {
 public:
  using Lookup = typename detail::KeyTraits<K>::Lookup;
  using Entry = std::pair<K, V>;
  using iterator = typename std::vector<Entry>::iterator;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  // Entry at a 0-based position; the caller checks the range.
  Entry& at(size_t position) { return entries_[position]; }
  const Entry& at(size_t position) const { return entries_[position]; }

  std::optional<size_t> indexOf(const Lookup& key) const {
    if (index_.empty()) {
      for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].first == key) return i;
      return std::nullopt;
    }
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    return it->second;
  }
  bool contains(const Lookup& key) const { return indexOf(key).has_value(); }

  V* find(const Lookup& key) {
    auto i = indexOf(key);
    return i ? &entries_[*i].second : nullptr;
  }
  const V* find(const Lookup& key) const {
    auto i = indexOf(key);
    return i ? &entries_[*i].second : nullptr;
  }
  V& get(const Lookup& key) {
    if (V* v = find(key)) return *v;
    throw std::out_of_range("OrderedMap: no such key");
  }
  const V& get(const Lookup& key) const {
    if (const V* v = find(key)) return *v;
    throw std::out_of_range("OrderedMap: no such key");
  }

  // Adds the entry unless the key is present; returns whether it was added.
  bool insert(K key, V value) {
    if (contains(key)) return false;
    append(std::move(key), std::move(value));
    return true;
  }
  // Adds the entry, or replaces the value in place (the entry keeps its position).
  V& set(K key, V value) {
    if (V* v = find(key)) {
      *v = std::move(value);
      return *v;
    }
    return append(std::move(key), std::move(value));
  }
  // The value of key, appended with a default value when absent.
  V& operator[](const K& key) {
    if (V* v = find(key)) return *v;
    return append(K(key), V());
  }

  bool erase(const Lookup& key) {
    auto i = indexOf(key);
    if (!i) return false;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*i));
    rebuildIndex();
    return true;
  }
  // Makes room for n entries in all.
  void reserve(size_t n) { entries_.reserve(n); }
  void clear() noexcept {
    entries_.clear();
    index_.clear();
  }

  std::vector<K> keys() const {
    std::vector<K> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(e.first);
    return out;
  }

 private:
  static constexpr size_t kIndexThreshold = 12;

  V& append(K key, V value) {
    entries_.emplace_back(std::move(key), std::move(value));
    if (!index_.empty())
      index_.emplace(entries_.back().first, entries_.size() - 1);
    else if (entries_.size() > kIndexThreshold)
      rebuildIndex();
    return entries_.back().second;
  }
  void rebuildIndex() {
    index_.clear();
    if (entries_.size() <= kIndexThreshold) return;
    index_.reserve(entries_.size() * 2);
    for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
  }

  std::vector<Entry> entries_;
  std::unordered_map<K, size_t, typename detail::KeyTraits<K>::Hash, typename detail::KeyTraits<K>::Equal>
      index_;
};

}  // namespace quill
