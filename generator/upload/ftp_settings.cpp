// One table names the thirteen attributes in the order they are written and
// ties each to its field, so reading and writing cannot disagree. Reads go
// to the attribute table directly: they neither create nor raise, whatever
// mode the store is in.
#include "generator/upload/ftp_settings.h"

namespace quill {

namespace {

struct Attribute {
  const char* name;
  std::string FtpSettings::*field;
};

constexpr Attribute kWriteOrder[] = {
    {"Ip", &FtpSettings::ip},
    {"User", &FtpSettings::user},
    {"Password", &FtpSettings::password},
    {"Account", &FtpSettings::account},
    {"Port", &FtpSettings::port},
    {"ServerPath", &FtpSettings::serverPath},
    {"PassMode", &FtpSettings::passMode},
    {"TxtFile", &FtpSettings::txtFile},
    {"FirewallFlag", &FtpSettings::firewallFlag},
    {"FirewallType", &FtpSettings::firewallType},
    {"FirewallIP", &FtpSettings::firewallIp},
    {"FirewallUser", &FtpSettings::firewallUser},
    {"FirewallPassword", &FtpSettings::firewallPassword},
};

constexpr const char* kFtpNode = "Ftp";

DomNodeRef ftpNodeOf(const cvDomNode& setupNode) {
  for (const DomNodeRef& child : setupNode.children())
    if (child->tagName() == kFtpNode) return child;
  return nullptr;
}

}  // namespace

FtpSettings readFtpSettings(const cvDomNode& setupNode) {
  FtpSettings settings;
  const DomNodeRef ftp = ftpNodeOf(setupNode);
  if (!ftp) return settings;
  for (const Attribute& a : kWriteOrder)
    if (const std::string* value = ftp->attrTable().find(a.name)) settings.*a.field = *value;
  return settings;
}

void writeFtpSettings(cvDomNode& setupNode, const FtpSettings& settings) {
  DomNodeRef ftp = ftpNodeOf(setupNode);
  if (!ftp) {
    ftp = cvDomNode::create(kFtpNode);
    setupNode.appendNode(ftp);
  }
  for (const Attribute& a : kWriteOrder) ftp->loadAttr(a.name, settings.*a.field);
}

}  // namespace quill
