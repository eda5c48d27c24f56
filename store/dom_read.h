// What one reading of a tag document makes (inside the store only): the text
// it read and a record per element, in memory blocks that the reading owns
// and releases together. The reader fills them, nodes are made from them on
// first use, and the writer writes records no node was made from yet.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "store/dom.h"
#include "store/dom_scan.h"

namespace quill::detail {

// An element as read. Its name and attributes are views into the text of the
// reading. Its text is either a piece of that text (capacity 0) or a buffer
// of its own in the reading's blocks.
struct ReadElement {
  std::string_view name;
  const AttrView* attrs = nullptr;
  size_t attrCount = 0;
  char* text = nullptr;
  size_t textSize = 0;
  size_t textCapacity = 0;
  ReadElement* firstChild = nullptr;
  ReadElement* next = nullptr;
  size_t childCount = 0;
};

// The memory of one reading: the text read and its element records, in
// blocks taken from the process's block pool and given back together when
// the last node that still needs them is gone.
class ReadTree {
 public:
  ReadTree() = default;
  ReadTree(const ReadTree&) = delete;
  ReadTree& operator=(const ReadTree&) = delete;
  ~ReadTree();

  // A buffer for the text to read, owned by the tree.
  char* textBuffer(size_t bytes) { return newBlock(bytes); }
  // The buffer moved to a larger one, keeping its first `used` bytes.
  char* growTextBuffer(char* buffer, size_t used, size_t bytes);
  // Sizes the blocks for the elements of a text of that length.
  void expectText(size_t bytes);

  void* allocate(size_t bytes) {
    bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
    if (static_cast<size_t>(end_ - cur_) < bytes) return allocateSlow(bytes);
    void* p = cur_;
    cur_ += bytes;
    return p;
  }
  template <class T>
  T* make() {
    static_assert(alignof(T) <= kAlign && std::is_trivially_destructible_v<T>);
    return new (allocate(sizeof(T))) T();
  }

 private:
  static constexpr size_t kAlign = alignof(std::max_align_t);
  static constexpr size_t kFirstBlock = size_t{16} << 10;

  char* newBlock(size_t bytes);
  void* allocateSlow(size_t bytes);

  std::vector<std::pair<char*, size_t>> blocks_;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  size_t nextBlock_ = kFirstBlock;
};

// Reads text, which tree holds, into start (the reader of parseText);
// declaration tags set doc's declaration attributes.
void readInto(cvDomDoc& doc, cvDomNode& start, const std::shared_ptr<ReadTree>& tree, std::string_view text);

}  // namespace quill::detail
