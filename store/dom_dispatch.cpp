// Late-bound members of the tag document classes, under their automation
// names and in the order of their interfaces. Each member converts its
// arguments and calls the native API; lookups that may meet a missing name
// follow the thread's DebugFlag, which the native API never reads.
#include "store/dom.h"
#include "store/node_members.h"

namespace quill {

namespace {

Variant nodeOrNothing(DomNodeRef n) { return Variant(ObjectRef(std::move(n))); }

DomNodeRef nodeArg(const Variant& v) {
  if (v.isEmpty()) return nullptr;
  return v.as<cvDomNode>();
}

}  // namespace

const ClassInfo& cvDomNode::classInfo() const {
  using N = cvDomNode;
  static const ClassInfo info = [] {
    ClassInfo c("cvDomNode");
    c.property<N>(
        "TagName", [](N& n) { return Variant(n.tagName()); },
        [](N& n, const Variant& v) { n.setTagName(v.toText()); });
    c.method<N>("GetAttr", 1, [](N& n, Args a) {
      return Variant(n.getAttr(a[0].toText(), missingPerDebugFlag(), arg(a, 1).toText()));
    });
    c.method<N>("SetAttr", 2, [](N& n, Args a) {
      n.setAttr(a[0].toText(), a[1].toText(), missingPerDebugFlag());
      return Variant();
    });
    c.method<N>("RemoveAttr", 1, [](N& n, Args a) {
      n.removeAttr(a[0].toText());
      return Variant();
    });
    c.method<N>("SetNode", 2, [](N& n, Args a) { return nodeOrNothing(n.setNode(a[0], nodeArg(a[1]))); });
    c.method<N>("RemoveNode", 1, [](N& n, Args a) { return nodeOrNothing(n.removeNodeVar(a[0])); });
    c.method<N>("RemoveAllNode", 0, [](N& n, Args) {
      n.removeAllNode();
      return Variant();
    });
    c.method<N>("AppendNode", 1, [](N& n, Args a) {
      n.appendNode(nodeArg(a[0]));
      return Variant();
    });
    c.method<N>("GetText", 0, [](N& n, Args a) { return Variant(n.getText(arg(a, 0).toText())); });
    c.method<N>("SetText", 1, [](N& n, Args a) {
      n.setText(a[0].toText());
      return Variant();
    });
    c.property<N>("Length", [](N& n) { return Variant(n.length()); });
    c.method<N>("Exists", 1, [](N& n, Args a) { return Variant(n.exists(a[0])); });
    c.property<N>(
        "Value", [](N& n) { return Variant(n.value()); },
        [](N& n, const Variant& v) { n.setValue(v.toText()); });
    c.indexedProperty<N>(
        "Node", 1, [](N& n, Args a) { return nodeOrNothing(n.nodeVar(a[0], missingPerDebugFlag())); },
        [](N& n, Args a, const Variant& v) { n.setNode(arg(a, 0), nodeArg(v)); });
    c.property<N>(
        "Parent", [](N& n) { return nodeOrNothing(n.parent()); },
        [](N& n, const Variant& v) { n.setParent(nodeArg(v)); });
    c.property<N>("Attrs", [](N& n) { return Variant(n.attrs()); });
    detail::addCallerData<N>(c);
    return c;
  }();
  return info;
}

const ClassInfo& cvDomDoc::classInfo() const {
  using D = cvDomDoc;
  static const ClassInfo info = [] {
    ClassInfo c("cvDomDoc");
    c.method<D>("ReadDoc", 1, [](D& d, Args a) {
      d.readDoc(a[0].toText());
      return Variant();
    });
    c.method<D>("SaveDoc", 0, [](D& d, Args a) {
      d.saveDoc(arg(a, 0).toText());
      return Variant();
    });
    c.property<D>(
        "Root", [](D& d) { return nodeOrNothing(d.root()); },
        [](D& d, const Variant& v) { d.setRoot(nodeArg(v)); });
    c.method<D>("CreateNode", 1, [](D& d, Args a) { return nodeOrNothing(d.createNode(a[0].toText())); });
    detail::addGetAttr<D>(c);
    c.method<D>("SetAttr", 2, [](D& d, Args a) {
      d.setAttr(a[0].toText(), a[1].toText());
      return Variant();
    });
    c.method<D>("RemoveAttr", 1, [](D& d, Args a) {
      d.removeAttr(a[0].toText());
      return Variant();
    });
    c.property<D>(
        "FilePath", [](D& d) { return Variant(d.filePath()); },
        [](D& d, const Variant& v) { d.setFilePath(v.toText()); });
    c.property<D>("Version", [](D&) { return Variant(cvDomDoc::version()); });
    c.property<D>(
        "DebugFlag", [](D&) { return Variant(cvDomDoc::debugFlag()); },
        [](D&, const Variant& v) { cvDomDoc::setDebugFlag(v.toBool()); });
    return c;
  }();
  return info;
}

const ClassInfo& clsTagString::classInfo() const {
  using T = clsTagString;
  static const ClassInfo info = [] {
    ClassInfo c("clsTagString");
    c.method<T>("InputString", 1, [](T& t, Args a) {
      t.inputString(a[0].toText());
      return Variant();
    });
    c.property<T>("TagName", [](T& t) { return Variant(t.tagName); });
    c.property<T>("BeforeText", [](T& t) { return Variant(t.beforeText); });
    c.property<T>("AfterText", [](T& t) { return Variant(t.afterText); });
    c.property<T>("TagType", [](T& t) { return Variant(t.tagType); });
    c.indexedProperty<T>("TagAttr", 1, [](T& t, Args a) {
      const std::string* v = t.tagAttr.find(a[0].toText());
      return v ? Variant(*v) : Variant();
    });
    c.property<T>("TagText", [](T& t) { return Variant(t.tagText); });
    return c;
  }();
  return info;
}

}  // namespace quill
