// The node model: cvDomNode's attributes, children and addressing, and the
// in-memory side of cvDomDoc (declaration attributes, CreateNode).
//
// A node owns its children through shared references and knows its parent
// by a weak one. A node made by a reading first holds the record of the
// element it came from and turns that record's children into nodes the
// first time anything asks for them (expandChildren), so a large document
// costs nodes only where it is used. Every change checks its arguments
// before it touches the node, so a raised error leaves the node as it was.
#include <atomic>
#include <unordered_set>

#include "common/ascii.h"
#include "store/dom.h"
#include "store/dom_read.h"
#include "store/store_error.h"

namespace quill {

namespace {

thread_local bool tStrict = false;
std::atomic<int64_t> gLiveNodes{0};

}  // namespace

bool storeDebugFlag() noexcept { return tStrict; }
void setStoreDebugFlag(bool strict) noexcept { tStrict = strict; }

// ---- cvDomNode --------------------------------------------------------------

cvDomNode::cvDomNode() noexcept { gLiveNodes.fetch_add(1, std::memory_order_relaxed); }
cvDomNode::cvDomNode(std::string tagName) noexcept : tagName_(std::move(tagName)) {
  gLiveNodes.fetch_add(1, std::memory_order_relaxed);
}

// Releases the subtree without recursion, so that a deep document cannot
// overflow the stack when it is freed.
cvDomNode::~cvDomNode() {
  gLiveNodes.fetch_sub(1, std::memory_order_relaxed);
  if (children_.empty()) return;
  ChildList pending = std::move(children_);
  while (!pending.empty()) {
    DomNodeRef n = std::move(pending.back());
    pending.pop_back();
    if (n && n.use_count() == 1) {
      for (auto& c : n->children_) pending.push_back(std::move(c));
      n->children_.clear();
    }
  }
}

int64_t cvDomNode::liveCount() noexcept { return gLiveNodes.load(std::memory_order_relaxed); }

DomNodeRef cvDomNode::create(std::string tagName) { return std::make_shared<cvDomNode>(std::move(tagName)); }

std::weak_ptr<cvDomNode> cvDomNode::weakSelf() const {
  return std::static_pointer_cast<cvDomNode>(const_cast<cvDomNode*>(this)->weak_from_this().lock());
}

std::string cvDomNode::getAttr(std::string_view name, Missing missing, std::string_view defaultValue) {
  if (const std::string* v = attrs_.find(name)) return *v;
  if (missing == Missing::Raise) throw wrongAttrName(name);
  attrs_.set(std::string(name), std::string(defaultValue));
  return std::string(defaultValue);
}

void cvDomNode::setAttr(std::string_view name, std::string value, Missing missing) {
  if (std::string* v = attrs_.find(name)) {
    *v = std::move(value);
    return;
  }
  if (missing == Missing::Raise) throw wrongAttrName(name);
  attrs_.set(std::string(name), std::move(value));
}

void cvDomNode::removeAttr(std::string_view name) { attrs_.erase(name); }

std::string cvDomNode::getText(std::string_view defaultValue) const {
  return text_.empty() ? std::string(defaultValue) : text_;
}

DomNodeRef cvDomNode::childNamed(std::string_view name) const {
  ensureChildren();
  for (const auto& c : children_)
    if (c && c->tagName_ == name) return c;
  return nullptr;
}

bool cvDomNode::existsName(std::string_view name) const { return childNamed(name) != nullptr; }

DomNodeRef cvDomNode::nodeAt(int64_t position) const {
  ensureChildren();
  if (position < 0 || position > static_cast<int64_t>(children_.size()))
    throw wrongTagName(kWrongPosition, std::to_string(position));
  if (position == 0) throw runtimeError(kSubscriptOutOfRange, kStoreComponent);
  return children_[static_cast<size_t>(position - 1)];
}

DomNodeRef cvDomNode::lookupStep(std::string_view step, Missing missing) {
  // A text that reads as a number is a position given as text: it is not a
  // tag name, and the child list has no keys to look it up by.
  if (auto d = parseNumber(step)) {
    if (*d < 0 || *d > length()) throw wrongTagName(kWrongPosition, step);
    throw runtimeError(kInvalidCall, kStoreComponent);
  }
  if (DomNodeRef found = childNamed(step)) return found;
  if (missing == Missing::Raise) throw wrongTagName(kWrongTagName, step);
  auto created = create(std::string(step));
  children_.push_back(created);
  return created;
}

DomNodeRef cvDomNode::node(std::string_view nameOrPath, Missing missing) {
  cvDomNode* at = this;
  DomNodeRef cur;
  for (;;) {
    const size_t bs = nameOrPath.find('\\');
    cur = at->lookupStep(nameOrPath.substr(0, bs), missing);
    if (bs == std::string_view::npos) return cur;
    at = cur.get();
    nameOrPath.remove_prefix(bs + 1);
  }
}

DomNodeRef cvDomNode::nodeVar(const Variant& index, Missing missing) {
  if (index.isNumeric()) {
    const double d = index.toDouble();
    if (d < 0 || d > length()) throw wrongTagName(kWrongPosition, index.toText());
    if (index.isText()) throw runtimeError(kInvalidCall, kStoreComponent);
    return nodeAt(index.toLong());
  }
  return node(index.toText(), missing);
}

bool cvDomNode::exists(const Variant& index) const {
  if (auto n = index.asWholeNumber()) return *n >= 1 && *n <= length();
  return existsName(index.toText());
}

void cvDomNode::checkAdoptable(const DomNodeRef& newNode) const {
  if (!newNode) throw runtimeError(kObjectNotSet, kStoreComponent);
  // A node may not become its own descendant: the tree would never be
  // freed and could not be written.
  std::vector<const cvDomNode*> pending{newNode.get()};
  std::unordered_set<const cvDomNode*> seen;
  while (!pending.empty()) {
    const cvDomNode* n = pending.back();
    pending.pop_back();
    if (n == this) throw runtimeError(kInvalidCall, kStoreComponent);
    // Children not made into nodes yet cannot hold this node.
    if (n->children_.empty() || !seen.insert(n).second) continue;
    for (const auto& c : n->children_)
      if (c) pending.push_back(c.get());
  }
}

DomNodeRef cvDomNode::setNode(const Variant& index, DomNodeRef newNode) {
  if (!newNode) throw runtimeError(kObjectNotSet, kStoreComponent);
  ensureChildren();
  if (auto pos = index.asWholeNumber()) {
    if (*pos < 1 || *pos > length()) throw runtimeError(kSubscriptOutOfRange, kStoreComponent);
    checkAdoptable(newNode);
    children_[static_cast<size_t>(*pos - 1)] = newNode;
    return newNode;
  }
  const std::string name = index.toText();
  for (auto& c : children_) {
    if (c && c->tagName_ == name) {
      checkAdoptable(newNode);
      c = newNode;
      return newNode;
    }
  }
  return nullptr;
}

DomNodeRef cvDomNode::removeNodeAt(int64_t position) {
  if (position < 1 || position > length()) throw runtimeError(kSubscriptOutOfRange, kStoreComponent);
  auto it = children_.begin() + (position - 1);
  DomNodeRef removed = std::move(*it);
  children_.erase(it);
  return removed;
}

DomNodeRef cvDomNode::removeNode(const DomNodeRef& child) {
  if (!child) return nullptr;
  ensureChildren();
  for (auto it = children_.begin(); it != children_.end(); ++it) {
    if (*it == child) {
      DomNodeRef removed = std::move(*it);
      children_.erase(it);
      return removed;
    }
  }
  return nullptr;
}

DomNodeRef cvDomNode::removeNodeVar(const Variant& index) {
  if (index.isNumeric()) return removeNodeAt(index.toLong());
  return removeNode(index.as<cvDomNode>());
}

void cvDomNode::removeAllNode() {
  children_ = ChildList();
  pending_ = nullptr;
  pendingTree_.reset();
}

void cvDomNode::appendNode(DomNodeRef newNode) {
  checkAdoptable(newNode);
  ensureChildren();
  newNode->parent_ = weakSelf();
  children_.push_back(std::move(newNode));
}

std::string cvDomNode::value() const { return nodeToText(*this); }

void cvDomNode::setValue(std::string_view text) {
  DomNodeRef parsed = textToNode(text);
  attrs_ = std::move(parsed->attrs_);
  children_ = std::move(parsed->children_);
  parsed->children_.clear();
  // Children not made yet are made later as this node's.
  pending_ = parsed->pending_;
  pendingTree_ = std::move(parsed->pendingTree_);
  parsed->pending_ = nullptr;
  // The adopted children now belong to this node.
  const std::weak_ptr<cvDomNode> self = weakSelf();
  for (auto& c : children_)
    if (c && c->parent_.lock() == parsed) c->parent_ = self;
  setText(parsed->getText());
  tagName_ = parsed->tagName_;
}

DomNodeRef cvDomNode::fromElement(const detail::ReadElement& e, const std::shared_ptr<const detail::ReadTree>& tree,
                                  const std::weak_ptr<cvDomNode>& parent) {
  auto node = std::make_shared<cvDomNode>(std::string(e.name));
  if (e.attrCount) {
    node->attrs_.reserve(e.attrCount);
    for (size_t i = 0; i < e.attrCount; ++i)
      node->attrs_.set(std::string(e.attrs[i].name), detail::decodedValue(e.attrs[i].value));
  }
  node->text_.assign(e.text, e.textSize);
  node->parent_ = parent;
  if (e.firstChild) {
    node->pending_ = &e;
    node->pendingTree_ = tree;
  }
  return node;
}

void cvDomNode::expandChildren() const {
  const std::weak_ptr<cvDomNode> self = weakSelf();
  ChildList made;
  made.reserve(pending_->childCount);
  for (const detail::ReadElement* c = pending_->firstChild; c; c = c->next)
    made.push_back(fromElement(*c, pendingTree_, self));
  children_ = std::move(made);
  pending_ = nullptr;
  pendingTree_.reset();
}

// ---- cvDomDoc, in memory ------------------------------------------------------

cvDomDoc::cvDomDoc() { declaration_.set("version", "1.0"); }

DomNodeRef cvDomDoc::createNode(std::string tagName) const {
  if (tagName.empty()) throw AutomationError(kWrongTagName, "", "");
  return cvDomNode::create(std::move(tagName));
}

std::string cvDomDoc::getAttr(std::string_view name, std::string_view defaultValue) const {
  if (const std::string* v = declaration_.find(toLowerAscii(name))) return *v;
  return std::string(defaultValue);
}

void cvDomDoc::setAttr(std::string_view name, std::string value) {
  declaration_.set(toLowerAscii(name), std::move(value));
}

void cvDomDoc::removeAttr(std::string_view name) { declaration_.erase(toLowerAscii(name)); }

}  // namespace quill
