// The writer: NodeToText as one loop with an explicit stack, so that a deep
// tree costs no stack. An element is written as "<name attrs/>" when it has
// neither text nor children, else as "<name attrs>text children</name>"; the
// text always comes before the children, with its entities encoded.
//
// Children that were never made into nodes are written straight from the
// records of the reading they came from, with the attributes a node made
// from them would have (the first place of each name, the last value given),
// so saving a document just read makes no nodes at all.
#include <algorithm>
#include <span>

#include "store/dom.h"
#include "store/dom_read.h"
#include "store/dom_scan.h"

namespace quill {

namespace {

using detail::AttrView;
using detail::ReadElement;

void appendAttr(std::string& out, std::string_view name, std::string_view value) {
  out.push_back(' ');
  out.append(name);
  out.append("=\"");
  detail::appendEncoded(out, value);
  out.push_back('"');
}

void openTag(std::string& out, const cvDomNode& n) {
  out.push_back('<');
  out.append(n.tagName());
  for (const auto& [name, value] : n.attrTable()) appendAttr(out, name, value);
}

void openTag(std::string& out, const ReadElement& e) {
  out.push_back('<');
  out.append(e.name);
  const auto attrs = std::span(e.attrs, e.attrCount);
  if (attrs.size() > 12) {
    // Many attributes: the table itself rather than pairwise comparisons.
    AttrTable table;
    table.reserve(attrs.size());
    for (const AttrView& a : attrs) table.set(std::string(a.name), std::string(a.value));
    for (const auto& [name, value] : table) appendAttr(out, name, detail::decodedValue(value));
    return;
  }
  for (size_t i = 0; i < attrs.size(); ++i) {
    const std::string_view name = attrs[i].name;
    if (std::any_of(attrs.begin(), attrs.begin() + i, [&](const AttrView& a) { return a.name == name; }))
      continue;
    std::string_view value = attrs[i].value;
    for (size_t j = i + 1; j < attrs.size(); ++j)
      if (attrs[j].name == name) value = attrs[j].value;
    if (value.find('&') == std::string_view::npos)
      appendAttr(out, name, value);
    else
      appendAttr(out, name, detail::decodedValue(value));
  }
}

}  // namespace

void cvDomNode::writeTo(std::string& out, const cvDomNode& root) {
  struct Frame {
    const cvDomNode* node;       // a node, or null for an element read
    const ReadElement* element;  // else the element read
    size_t next;                 // the node's next child, or
    const ReadElement* read;     // the next child still as read
  };
  std::vector<Frame> stack;
  auto openNode = [&](const cvDomNode& n) {
    openTag(out, n);
    if (n.text_.empty() && n.children_.empty() && !n.pending_) {
      out.append("/>");
      return;
    }
    out.push_back('>');
    detail::appendEncoded(out, n.text_);
    stack.push_back(Frame{&n, nullptr, 0, n.pending_ ? n.pending_->firstChild : nullptr});
  };
  auto openRead = [&](const ReadElement& e) {
    openTag(out, e);
    if (e.textSize == 0 && !e.firstChild) {
      out.append("/>");
      return;
    }
    out.push_back('>');
    detail::appendEncoded(out, std::string_view(e.text, e.textSize));
    stack.push_back(Frame{nullptr, &e, 0, e.firstChild});
  };
  openNode(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.read) {
      const ReadElement* child = f.read;
      f.read = child->next;
      openRead(*child);
      continue;
    }
    if (f.node && f.next < f.node->children_.size()) {
      const cvDomNode* child = f.node->children_[f.next++].get();
      if (child) openNode(*child);
      continue;
    }
    out.append("</");
    out.append(f.node ? std::string_view(f.node->tagName_) : f.element->name);
    out.push_back('>');
    stack.pop_back();
  }
}

std::string nodeToText(const cvDomNode& node) {
  std::string out;
  cvDomNode::writeTo(out, node);
  return out;
}

std::string cvDomDoc::documentText() const {
  std::string out = "<?xml";
  for (const auto& [name, value] : declaration_) {
    out.push_back(' ');
    out.append(name);
    out.append("=\"");
    out.append(value);  // declaration values are written as they stand
    out.push_back('"');
  }
  out.append("?>");
  if (root_) cvDomNode::writeTo(out, *root_);
  return out;
}

}  // namespace quill
