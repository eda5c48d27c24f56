#include "store/store.h"

#include "common/object_factory.h"

namespace quill {

void registerStoreClasses() {
  auto& f = ObjectFactory::instance();
  f.registerClass("cvSystemDB.cvDomDoc", [] { return ObjectRef(cvDomDoc::create()); });
  f.registerClass("cvSystemDB.cvDomNode", [] { return ObjectRef(cvDomNode::create()); });
  f.registerClass("cvSystemDB.cvRegister", [] { return ObjectRef(cvRegister::create()); });
  f.registerClass("cvSystemDB.cvRegNode", [] { return ObjectRef(cvRegNode::create(HKEY_LOCAL_MACHINE)); });
  f.registerClass("cvSystemDB.cvIniFile", [] { return ObjectRef(cvIniFile::create()); });
  f.registerClass("cvSystemDB.cvIniNode", [] { return ObjectRef(std::make_shared<cvIniNode>()); });
}

}  // namespace quill
