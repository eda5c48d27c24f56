// FirewallFlag, FirewallType and PassMode are compared as stored text with
// "1", "0", "2", "3": "true" or " 1" are not "1". Firewall attributes are
// read only when the firewall is on, so a project that never used one needs
// none of them.
#include "generator/upload/connection_parameters.h"

#include "store/dom.h"

namespace quill {

namespace {

const std::string kCrLf = "\r\n";

}  // namespace

ConnectionParameters connectionParameters(const DomNodeRef& ftpNode) {
  auto attr = [&ftpNode](const char* name) { return ftpNode->getAttr(name, Missing::Raise); };
  ConnectionParameters p;
  p.password = attr("Password");
  p.account = attr("Account");
  p.port = attr("Port");
  p.passive = attr("PassMode") == "1";
  auto optional = [&ftpNode](const char* name) {
    const std::string* v = ftpNode->attrTable().find(name);
    return v ? *v : std::string();
  };
  p.security = optional("Security");
  p.tlsFingerprint = optional("TlsFingerprint");
  p.askPassword = optional("AskPassword") == "1";
  if (p.askPassword) p.password.clear();

  const std::string ip = attr("Ip");
  const std::string user = attr("User");
  if (attr("FirewallFlag") != "1") {
    p.remoteHost = ip;
    p.username = user;
    return p;
  }
  const std::string type = attr("FirewallType");
  auto firewallLogin = [&] {
    return "USER " + attr("FirewallUser") + kCrLf + "PASS " + attr("FirewallPassword") + kCrLf;
  };
  if (type == "0") {  // OPEN
    p.preCommand = "OPEN " + ip + kCrLf;
    p.username = user;
  } else if (type == "1") {  // SITE
    p.preCommand = firewallLogin() + "SITE " + ip + kCrLf;
    p.username = user;
  } else if (type == "2") {  // USER user@host
    p.username = user + "@" + ip;
  } else if (type == "3") {  // log-in at the firewall, then USER user@host
    p.preCommand = firewallLogin();
    p.username = user + "@" + ip;
  } else {
    return p;  // no firewall type chosen
  }
  p.remoteHost = attr("FirewallIP");
  return p;
}

}  // namespace quill
