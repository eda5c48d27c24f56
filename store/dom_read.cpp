// The reader: ParseText as one loop over the text with an explicit stack of
// open elements, so that neither deep nesting nor a long text costs stack or
// copies of the remaining text.
//
// Each element read becomes a plain record (ReadElement) in the reading's
// blocks, with views into the text for its name and attributes; an element's
// text stays a view into the text until something is appended to it, and
// its entities are decoded in place when its end tag is met. Only the nodes
// of the caller's tree (the start node, and its ancestors when an end tag
// leaves it) are nodes while reading; they get the elements read as children
// at the end, and every node makes its own children on first use.
//
// Speed target, checked by bench/store (store_bench, CPU time): ReadDoc
// reads at least half as many characters per second as pugixml parses the
// same tree as UTF-8, at 1, 10 and 50 MB. The documents the programs read
// are about 1 KB; the target is for scripts and tools that read large ones.
// The records make a reading cheap; the block pool below keeps it so when
// documents are read one after another (without it every reading faults in
// fresh memory, and ReadDoc fell to 0.30-0.35 of pugixml's rate at 1 and
// 10 MB); the SSE2 searches of dom_scan.h and the SSE2 conversion in
// common/utf each gave 10 to 25 % more.
#include "store/dom_read.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "common/automation_error.h"
#include "store/store_error.h"

namespace quill::detail {

namespace {

constexpr size_t npos = std::string_view::npos;

// Memory blocks for readings. Blocks of the usual sizes that a reading
// releases are kept, up to kPoolLimit bytes in all, for the next one. Small
// blocks are not kept.
class BlockPool {
 public:
  static constexpr size_t kSmallestPooled = size_t{16} << 10;
  static constexpr size_t kLargestPooled = size_t{4} << 20;
  static constexpr size_t kPoolLimit = size_t{16} << 20;

  // The size of the block that holds `bytes`: a power of two when pooled.
  static size_t blockSize(size_t bytes) { return pooled(bytes) ? std::bit_ceil(bytes) : bytes; }

  static char* take(size_t size) {
    if (pooled(size)) {
      BlockPool& p = instance();
      std::lock_guard lock(p.mutex_);
      for (size_t i = p.free_.size(); i-- > 0;) {
        if (p.free_[i].first != size) continue;
        char* b = p.free_[i].second;
        p.free_.erase(p.free_.begin() + static_cast<std::ptrdiff_t>(i));
        p.bytes_ -= size;
        return b;
      }
    }
    return static_cast<char*>(::operator new(size));
  }

  static void give(char* block, size_t size) noexcept {
    if (pooled(size)) {
      BlockPool& p = instance();
      std::lock_guard lock(p.mutex_);
      if (p.bytes_ + size <= kPoolLimit && p.free_.size() < p.free_.capacity()) {
        p.free_.emplace_back(size, block);
        p.bytes_ += size;
        return;
      }
    }
    ::operator delete(block);
  }

 private:
  BlockPool() { free_.reserve(kPoolLimit / kSmallestPooled); }
  static bool pooled(size_t size) { return size >= kSmallestPooled && size <= kLargestPooled; }
  // Never destroyed: readings may end after static destruction has begun.
  static BlockPool& instance() {
    static BlockPool* pool = new BlockPool;
    return *pool;
  }

  std::mutex mutex_;
  std::vector<std::pair<size_t, char*>> free_;
  size_t bytes_ = 0;
};

constexpr size_t kSmallestBlock = 256;
constexpr size_t kLargestBlock = size_t{1} << 20;

}  // namespace

// ---- the memory of a reading -------------------------------------------

ReadTree::~ReadTree() {
  for (const auto& [b, size] : blocks_) BlockPool::give(b, size);
}

char* ReadTree::growTextBuffer(char* buffer, size_t used, size_t bytes) {
  char* grown = newBlock(bytes);
  std::memcpy(grown, buffer, used);
  const auto old = std::find_if(blocks_.begin(), blocks_.end(), [&](const auto& b) { return b.first == buffer; });
  BlockPool::give(old->first, old->second);
  blocks_.erase(old);
  return grown;
}

void ReadTree::expectText(size_t bytes) {
  nextBlock_ = std::clamp(std::bit_ceil(2 * bytes + 1), kSmallestBlock, kLargestBlock);
}

// A new block for bytes that do not fit the current one (bytes aligned).
void* ReadTree::allocateSlow(size_t bytes) {
  // Large pieces get a block of their own; the current one stays open.
  if (bytes > nextBlock_ / 4) return newBlock(bytes);
  cur_ = newBlock(nextBlock_);
  end_ = cur_ + nextBlock_;
  nextBlock_ = std::min(nextBlock_ * 2, kLargestBlock);
  void* p = cur_;
  cur_ += bytes;
  return p;
}

char* ReadTree::newBlock(size_t bytes) {
  const size_t size = BlockPool::blockSize(bytes);
  if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 8);
  char* b = BlockPool::take(size);
  blocks_.emplace_back(b, size);
  return b;
}

// ---- the reader ----------------------------------------------------------

class Reader {
 public:
  Reader(cvDomDoc& doc, const std::shared_ptr<ReadTree>& tree) : doc_(doc), tree_(tree) {}

  void read(cvDomNode& start, std::string_view text) {
    tree_->expectText(text.size());
    stack_.push_back(Frame{&start, nullptr, nullptr, nullptr, start.text().find('&')});
    try {
      size_t pos = 0;
      while (pos < text.size()) {
        size_t lt, gt;
        if (!findTag(text, pos, lt, gt)) {
          trailingText(text.substr(pos));
          break;
        }
        tag(text.substr(pos, lt - pos), parseTag(text.substr(lt, gt - lt + 1)));
        pos = gt + 1;
      }
    } catch (...) {
      adopt();
      throw;
    }
    adopt();
  }

 private:
  // An open element: a node of the caller's tree, or an element read.
  struct Frame {
    cvDomNode* node;
    DomNodeRef hold;        // keeps a node reached through Parent alive
    ReadElement* element;   // when node is null
    ReadElement* lastChild;
    size_t dirty;           // first place where an entity may start, or npos
    std::string_view name() const { return node ? std::string_view(node->tagName()) : element->name; }
  };
  // An element read as a child of one of the caller's nodes.
  struct Adoption {
    cvDomNode* parent;
    DomNodeRef hold;
    const ReadElement* element;
  };

  // One tag with the text before it.
  void tag(std::string_view before, const TagScan& scan) {
    switch (scan.type) {
      case clsTagString::kStart: {
        Frame& f = current();
        appendBefore(f, before);
        stack_.push_back(Frame{nullptr, nullptr, addElement(f, scan), nullptr, npos});
        break;
      }
      case clsTagString::kEnd: {
        Frame& f = current();
        appendBefore(f, before);
        decodeText(f);
        if (scan.name == f.name()) close();
        break;
      }
      case clsTagString::kEmpty:  // the text before it is dropped
        addElement(current(), scan);
        break;
      case clsTagString::kDeclaration:
        attrScratch_.clear();
        parseAttrs(scan.attrText, attrScratch_);
        for (const AttrView& a : attrScratch_) doc_.setAttr(a.name, std::string(a.value));
        break;
    }
  }

  Frame& current() {
    if (stack_.empty()) throw runtimeError(kObjectNotSet, kStoreComponent);
    return stack_.back();
  }

  // The innermost element is closed; past the outermost node the reading
  // goes on in its parent, if it has one.
  void close() {
    if (stack_.size() > 1) {
      stack_.pop_back();
      return;
    }
    DomNodeRef p = stack_.back().node ? stack_.back().node->parent() : nullptr;
    stack_.pop_back();
    if (p) {
      const size_t amp = p->text().find('&');
      cvDomNode* raw = p.get();
      stack_.push_back(Frame{raw, std::move(p), nullptr, nullptr, amp});
    }
  }

  // Text after the last tag follows a line break when the element has text.
  void trailingText(std::string_view rest) {
    Frame& f = current();
    if (f.node) {
      if (!f.node->text().empty()) f.node->textRef().append("\r\n");
      f.node->textRef().append(rest);
    } else {
      if (f.element->textSize > 0) appendText(*f.element, "\r\n");
      appendText(*f.element, rest);
    }
  }

  // Text before a tag; an entity may span the old end and the new piece.
  void appendBefore(Frame& f, std::string_view before) {
    if (before.empty()) return;
    size_t oldLength;
    std::string_view now;
    if (f.node) {
      std::string& t = f.node->textRef();
      oldLength = t.size();
      t.append(before);
      now = t;
    } else {
      oldLength = f.element->textSize;
      appendText(*f.element, before);
      now = std::string_view(f.element->text, f.element->textSize);
    }
    if (f.dirty == npos) f.dirty = findIn(now, '&', oldLength >= 5 ? oldLength - 5 : 0);
  }

  void decodeText(Frame& f) {
    if (f.dirty == npos) return;
    if (f.node)
      f.dirty = decodeInPlace(f.node->textRef(), f.dirty);
    else
      f.dirty = decodeInPlace(f.element->text, f.element->textSize, f.dirty);
  }

  // Appends to an element's text, moving it into a buffer of its own first
  // when it is still a piece of the text read.
  void appendText(ReadElement& e, std::string_view more) {
    if (more.empty()) return;
    if (e.textSize == 0 && e.textCapacity == 0) {
      e.text = const_cast<char*>(more.data());  // the text read belongs to the reading
      e.textSize = more.size();
      return;
    }
    if (e.textSize + more.size() > e.textCapacity) {
      const size_t capacity = std::max<size_t>(2 * (e.textSize + more.size()), 32);
      char* grown = static_cast<char*>(tree_->allocate(capacity));
      std::memcpy(grown, e.text, e.textSize);
      e.text = grown;
      e.textCapacity = capacity;
    }
    std::memcpy(e.text + e.textSize, more.data(), more.size());
    e.textSize += more.size();
  }

  ReadElement* addElement(Frame& f, const TagScan& scan) {
    ReadElement* e = tree_->make<ReadElement>();
    e->name = scan.name;
    if (!scan.attrText.empty()) {
      attrScratch_.clear();
      parseAttrs(scan.attrText, attrScratch_);
      auto* attrs = static_cast<AttrView*>(tree_->allocate(sizeof(AttrView) * attrScratch_.size()));
      std::uninitialized_copy(attrScratch_.begin(), attrScratch_.end(), attrs);
      e->attrs = attrs;
      e->attrCount = attrScratch_.size();
    }
    if (f.node) {
      adoptions_.push_back(Adoption{f.node, f.hold, e});
    } else {
      (f.lastChild ? f.lastChild->next : f.element->firstChild) = e;
      f.lastChild = e;
      ++f.element->childCount;
    }
    return e;
  }

  // Gives the caller's nodes the children read for them.
  void adopt() {
    for (const Adoption& a : adoptions_)
      a.parent->children().push_back(cvDomNode::fromElement(*a.element, tree_, a.parent->weakSelf()));
    adoptions_.clear();
  }

  cvDomDoc& doc_;
  const std::shared_ptr<ReadTree>& tree_;
  std::vector<Frame> stack_;
  std::vector<Adoption> adoptions_;
  std::vector<AttrView> attrScratch_;
};

void readInto(cvDomDoc& doc, cvDomNode& start, const std::shared_ptr<ReadTree>& tree, std::string_view text) {
  Reader(doc, tree).read(start, text);
}

}  // namespace quill::detail

namespace quill {

void cvDomDoc::parseText(cvDomNode& start, std::string_view text) {
  const auto tree = std::make_shared<detail::ReadTree>();
  char* copy = tree->textBuffer(text.size() + 1);
  std::memcpy(copy, text.data(), text.size());
  detail::readInto(*this, start, tree, std::string_view(copy, text.size()));
}

DomNodeRef textToNode(std::string_view text) {
  cvDomDoc scratch;
  auto container = cvDomNode::create();
  scratch.parseText(*container, text);
  if (container->children().size() == 1) return container->children().front();
  return container;
}

}  // namespace quill
