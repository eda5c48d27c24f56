// A project's upload settings as the settings dialog edits them: the
// thirteen attributes of the node Setup/Ftp of ProjectDef.prj, read without
// creating anything and written back in their fixed order. (What an upload
// connects with is made from the same node by connection_parameters.h.)
#pragma once

#include <string>

#include "store/dom.h"

namespace quill {

// The stored texts, as typed; the flags are "1" for on ("0" as the dialog
// writes off), FirewallType the index of the firewall entry ("-1" for none).
struct FtpSettings {
  std::string ip;                // Ip: server host name or address
  std::string port;              // Port
  std::string user;              // User
  std::string password;          // Password (stored as typed)
  std::string account;           // Account (sent with ACCT when asked for)
  std::string serverPath;        // ServerPath: remote folder of the site
  std::string txtFile;           // TxtFile: text-file extensions
  std::string passMode;          // PassMode: passive data connections
  std::string firewallFlag;      // FirewallFlag: log in through a firewall
  std::string firewallType;      // FirewallType: "0" OPEN, "1" SITE, "2", "3" USER kinds
  std::string firewallIp;        // FirewallIP
  std::string firewallUser;      // FirewallUser
  std::string firewallPassword;  // FirewallPassword
};

// The settings of the Ftp child of setupNode. A missing Ftp node or
// attribute reads as ""; nothing is created.
FtpSettings readFtpSettings(const cvDomNode& setupNode);

// Sets the thirteen attributes of setupNode's Ftp child in the order Ip,
// User, Password, Account, Port, ServerPath, PassMode, TxtFile,
// FirewallFlag, FirewallType, FirewallIP, FirewallUser, FirewallPassword.
// An attribute that is there keeps its place; a missing one is added after
// the others; a missing Ftp node is added as Setup's last child. The caller
// saves the document.
void writeFtpSettings(cvDomNode& setupNode, const FtpSettings& settings);

}  // namespace quill
