// Tag documents in memory: cvDomDoc (one per file) and cvDomNode (one per
// element), plus the tag scanner clsTagString and the text form of a node.
//
// Text is UTF-8 inside (generalised UTF-8 for lone surrogates, so that any
// UTF-16 file reads and writes back unchanged); files are UTF-16LE after two
// header bytes.
//
// A lookup of a missing child or attribute either creates it (lenient) or
// raises 10002 / 10006 (strict). C++ callers say which at each call with
// Missing; the late-bound members follow DebugFlag, one value per thread for
// the whole library, which scripts set and read through any cvDomDoc.
//
// A document read from a file or a text keeps what it read in a compact form
// and makes a node's children into nodes when they are first asked for (even
// through a const accessor), so a tree is used by one thread at a time. Until
// then the children hold the memory of that whole reading.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/dispatch.h"
#include "common/ordered_map.h"
#include "common/variant.h"

namespace quill {

class cvDomNode;
class cvDomDoc;
namespace detail {
class ReadTree;
class Reader;
struct ReadElement;
}  // namespace detail
using DomNodeRef = std::shared_ptr<cvDomNode>;
using AttrTable = OrderedMap<std::string, std::string>;
using ChildList = std::vector<DomNodeRef>;

// What a lookup does when the child or attribute is not there.
enum class Missing {
  Create,  // append it (an attribute with the default value) and return it
  Raise,   // raise 10002 for a child, 10006 for an attribute; change nothing
};

// The thread's DebugFlag, which only the late-bound members consult.
bool storeDebugFlag() noexcept;
void setStoreDebugFlag(bool strict) noexcept;
// Missing::Raise when the thread's DebugFlag is on.
inline Missing missingPerDebugFlag() noexcept { return storeDebugFlag() ? Missing::Raise : Missing::Create; }

// Entity coding: the five predefined entities only.
std::string encodeEntities(std::string_view text);
std::string decodeEntities(std::string_view text);

class cvDomNode : public Dispatch {
 public:
  cvDomNode() noexcept;
  explicit cvDomNode(std::string tagName) noexcept;
  ~cvDomNode() override;
  cvDomNode(const cvDomNode&) = delete;
  cvDomNode& operator=(const cvDomNode&) = delete;

  static DomNodeRef create(std::string tagName = {});

  const std::string& tagName() const noexcept { return tagName_; }
  void setTagName(std::string name) { tagName_ = std::move(name); }

  // Attributes (names compared exactly). A value stored empty reads as "",
  // not as the default; the default is what a created attribute gets.
  std::string getAttr(std::string_view name, Missing missing, std::string_view defaultValue = {});
  void setAttr(std::string_view name, std::string value, Missing missing);
  void removeAttr(std::string_view name);
  bool hasAttr(std::string_view name) const { return attrs_.contains(name); }
  std::vector<std::string> attrs() const { return attrs_.keys(); }
  // Sets an attribute, appending it when missing.
  void loadAttr(std::string name, std::string value) { attrs_.set(std::move(name), std::move(value)); }

  // Text.
  std::string getText(std::string_view defaultValue = {}) const;
  void setText(std::string text) { text_ = std::move(text); }
  void appendText(std::string_view text) { text_.append(text); }
  const std::string& text() const noexcept { return text_; }
  std::string& textRef() noexcept { return text_; }

  // Children. Positions are 1-based.
  int32_t length() const {
    ensureChildren();
    return static_cast<int32_t>(children_.size());
  }
  // Child at a position: 10005 beyond the list or below 0, 9 for position 0.
  DomNodeRef nodeAt(int64_t position) const;
  // Child by tag name or backslash path. Missing::Create makes every missing
  // step on the way (without setting its Parent); Missing::Raise raises 10002
  // for the first missing step and creates nothing.
  DomNodeRef node(std::string_view nameOrPath, Missing missing);
  // The late-bound form: a number (or a text that reads as one) is a position.
  DomNodeRef nodeVar(const Variant& index, Missing missing);
  bool exists(const Variant& index) const;
  bool existsName(std::string_view name) const;
  // Replaces the child at a position (1-based) or the first child with that
  // tag name; returns newNode, or nullptr when no child has the name.
  DomNodeRef setNode(const Variant& index, DomNodeRef newNode);
  DomNodeRef removeNodeAt(int64_t position);
  DomNodeRef removeNode(const DomNodeRef& child);  // nullptr when not a child
  DomNodeRef removeNodeVar(const Variant& index);
  void removeAllNode();
  // Sets newNode's Parent to this node and appends it.
  void appendNode(DomNodeRef newNode);

  DomNodeRef parent() const { return parent_.lock(); }
  void setParent(const DomNodeRef& p) { parent_ = p; }

  // The node as text (no declaration) / replaced from a text.
  std::string value() const;
  void setValue(std::string_view text);

  int32_t data = 0;
  Variant dataVariant;

  // The objects themselves, for the reader and writer.
  ChildList& children() {
    ensureChildren();
    return children_;
  }
  const ChildList& children() const {
    ensureChildren();
    return children_;
  }
  AttrTable& attrTable() noexcept { return attrs_; }
  const AttrTable& attrTable() const noexcept { return attrs_; }

  // Number of nodes alive in this process (for leak checks).
  static int64_t liveCount() noexcept;

  const ClassInfo& classInfo() const override;

 private:
  friend class detail::Reader;  // gives the caller's nodes the elements read
  friend std::string nodeToText(const cvDomNode& node);
  friend class cvDomDoc;

  // Writes the element with its attributes, text and descendants.
  static void writeTo(std::string& out, const cvDomNode& root);

  // A node made by reading a document gets its children as nodes on first
  // use; until then they are kept as the elements that were read.
  void ensureChildren() const {
    if (pending_) expandChildren();
  }
  void expandChildren() const;
  static DomNodeRef fromElement(const detail::ReadElement& element,
                                const std::shared_ptr<const detail::ReadTree>& tree,
                                const std::weak_ptr<cvDomNode>& parent);
  std::weak_ptr<cvDomNode> weakSelf() const;

  DomNodeRef childNamed(std::string_view name) const;
  // One step of a name lookup (no backslash in step).
  DomNodeRef lookupStep(std::string_view step, Missing missing);
  // Raises when newNode is unset or would become its own descendant.
  void checkAdoptable(const DomNodeRef& newNode) const;

  std::string tagName_;
  std::string text_;
  AttrTable attrs_;
  mutable ChildList children_;
  std::weak_ptr<cvDomNode> parent_;
  // The element whose children are still to be made into nodes, and the
  // reading it belongs to (kept alive until then).
  mutable const detail::ReadElement* pending_ = nullptr;
  mutable std::shared_ptr<const detail::ReadTree> pendingTree_;
};

class cvDomDoc : public Dispatch {
 public:
  cvDomDoc();
  static std::shared_ptr<cvDomDoc> create() { return std::make_shared<cvDomDoc>(); }

  // Reads a file; 19999 "ReadDoc" on failure (Root then keeps its old value).
  void readDoc(std::string_view path = {});
  // Writes the file through a temporary file beside it, renamed over the old
  // one; 10000 + error number with source "clxDom->SaveDoc" on failure.
  void saveDoc(std::string_view path = {});

  DomNodeRef root() const { return root_; }
  void setRoot(DomNodeRef root) { root_ = std::move(root); }
  // A new detached node; 10002 for an empty name.
  DomNodeRef createNode(std::string tagName) const;

  // Declaration attributes; names are lower-cased.
  std::string getAttr(std::string_view name, std::string_view defaultValue = {}) const;
  void setAttr(std::string_view name, std::string value);
  void removeAttr(std::string_view name);
  const AttrTable& declaration() const noexcept { return declaration_; }
  AttrTable& declaration() noexcept { return declaration_; }

  const std::string& filePath() const noexcept { return filePath_; }
  void setFilePath(std::string path) { filePath_ = std::move(path); }
  std::array<unsigned char, 2> headerBytes() const noexcept { return header_; }
  void setHeaderBytes(std::array<unsigned char, 2> h) noexcept { header_ = h; }

  static std::string version() { return "1.0.12"; }
  // The thread's DebugFlag: scripts see strict lookups when it is on.
  static bool debugFlag() noexcept { return storeDebugFlag(); }
  static void setDebugFlag(bool strict) noexcept { setStoreDebugFlag(strict); }

  // The whole file text: declaration line and root element.
  std::string documentText() const;
  // Fills node from text (the reader); declaration tags set this document's
  // declaration attributes. Raises run-time error 5 for a "<?>" tag and 91
  // when an end tag closes past the outermost node and more follows.
  void parseText(cvDomNode& node, std::string_view text);

  const ClassInfo& classInfo() const override;

 private:
  std::string filePath_;
  DomNodeRef root_;
  AttrTable declaration_;
  std::array<unsigned char, 2> header_{0, 0};
};

// The element with its attributes, text and descendants.
std::string nodeToText(const cvDomNode& node);
// The single top-level element of text, or the container node holding
// whatever the text held (zero or several elements).
DomNodeRef textToNode(std::string_view text);

// One scan of a text for its first tag.
class clsTagString : public Dispatch {
 public:
  enum Type : int32_t { kNone = 0, kStart = 1, kEnd = 2, kEmpty = 4, kDeclaration = 5 };

  void inputString(std::string_view src);

  std::string tagName;
  std::string beforeText;
  std::string afterText;
  int32_t tagType = kNone;
  AttrTable tagAttr;
  std::string tagText;

  const ClassInfo& classInfo() const override;
};

}  // namespace quill
