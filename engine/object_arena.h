// Memory for the many small objects of one parsed tree. Objects are created
// with std::allocate_shared and keep the arena alive through their control
// blocks; their memory is given back all at once, when the last object of
// the tree is gone. Single objects are never returned early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quill {

class ObjectArena {
 public:
  void* allocate(size_t bytes, size_t align) {
    size_t pad = (align - reinterpret_cast<uintptr_t>(next_) % align) % align;
    if (bytes + pad > left_) {
      const size_t size = bytes + align > kBlock ? bytes + align : kBlock;
      blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
      pad = (align - reinterpret_cast<uintptr_t>(next_) % align) % align;
    }
    std::byte* p = next_ + pad;
    next_ = p + bytes;
    left_ -= pad + bytes;
    return p;
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::byte* next_ = nullptr;
  size_t left_ = 0;
};

template <class T>
struct ArenaAllocator {
  using value_type = T;

  explicit ArenaAllocator(std::shared_ptr<ObjectArena> a) : arena(std::move(a)) {}
  template <class U>
  ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}

  T* allocate(size_t n) { return static_cast<T*>(arena->allocate(n * sizeof(T), alignof(T))); }
  void deallocate(T*, size_t) noexcept {}

  template <class U>
  bool operator==(const ArenaAllocator<U>& other) const noexcept {
    return arena == other.arena;
  }

  std::shared_ptr<ObjectArena> arena;
};

}  // namespace quill
