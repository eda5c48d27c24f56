// One table names the thirteen attributes in the order they are written and
// ties each to its field, so reading and writing cannot disagree. Reads go
// to the attribute table directly: they neither create nor raise, whatever
// mode the store is in.
#include "generator/upload/upload_settings.h"

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
constexpr const char* kCrLf = "\r\n";

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

ConnectionParameters connectionParameters(const FtpSettings& s) {
  ConnectionParameters p;
  p.password = s.password;
  p.account = s.account;
  p.port = s.port;
  p.passive = s.passMode == "1";
  if (s.firewallFlag != "1") {
    p.remoteHost = s.ip;
    p.username = s.user;
    return p;
  }
  const std::string firewallLogin =
      "USER " + s.firewallUser + kCrLf + "PASS " + s.firewallPassword + kCrLf;
  if (s.firewallType == "0") {
    p.username = s.user;
    p.preCommand = "OPEN " + s.ip + kCrLf;
  } else if (s.firewallType == "1") {
    p.username = s.user;
    p.preCommand = firewallLogin + "SITE " + s.ip + kCrLf;
  } else if (s.firewallType == "2") {
    p.username = s.user + "@" + s.ip;
  } else if (s.firewallType == "3") {
    p.username = s.user + "@" + s.ip;
    p.preCommand = firewallLogin;
  } else {
    return p;  // no firewall kind chosen: nothing to connect to
  }
  p.remoteHost = s.firewallIp;
  return p;
}

}  // namespace quill
