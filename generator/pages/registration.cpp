// The generators' late-bound members and their registration with the object
// factory, so a project's script can run one:
//   local g = CreateObject("Quillant.clsDetail"); g:OutputFile(folder)
#include "common/object_factory.h"
#include "generator/pages/page_generators.h"

namespace quill::pages {

namespace {

template <class T>
ClassInfo makeInfo(const char* name) {
  ClassInfo c(name);
  c.method<T>("OutputFile", 1, [](T& g, Args a) {
    g.outputFile(arg(a, 0).toText());
    return Variant();
  });
  c.property<T>("DebugMsg", [](T& g) { return Variant(g.debugMsg()); });
  c.property<T>("ErrMsg", [](T& g) { return Variant(g.errMsg()); });
  return c;
}

}  // namespace

const ClassInfo& clsSubject::classInfo() const {
  static const ClassInfo info = makeInfo<clsSubject>("clsSubject");
  return info;
}
const ClassInfo& clsCodeIndex::classInfo() const {
  static const ClassInfo info = makeInfo<clsCodeIndex>("clsCodeIndex");
  return info;
}
const ClassInfo& clsImgList::classInfo() const {
  static const ClassInfo info = makeInfo<clsImgList>("clsImgList");
  return info;
}
const ClassInfo& clsDetail::classInfo() const {
  static const ClassInfo info = makeInfo<clsDetail>("clsDetail");
  return info;
}

void registerPageGenerators() {
  auto& factory = ObjectFactory::instance();
  factory.registerClass("Quillant.clsSubject", [] { return std::make_shared<clsSubject>(); });
  factory.registerClass("Quillant.clsCodeIndex", [] { return std::make_shared<clsCodeIndex>(); });
  factory.registerClass("Quillant.clsImgList", [] { return std::make_shared<clsImgList>(); });
  factory.registerClass("Quillant.clsDetail", [] { return std::make_shared<clsDetail>(); });
}

}  // namespace quill::pages
