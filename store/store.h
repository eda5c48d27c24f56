// The settings and document store: tag documents, registry nodes, INI nodes.
#pragma once

#include "store/dom.h"
#include "store/inifile.h"
#include "store/registry.h"

namespace quill {

// Registers the creatable classes under their programmatic identifiers
// ("cvSystemDB.cvDomDoc", "cvSystemDB.cvDomNode", "cvSystemDB.cvRegister",
// "cvSystemDB.cvRegNode", "cvSystemDB.cvIniFile", "cvSystemDB.cvIniNode").
void registerStoreClasses();

}  // namespace quill
