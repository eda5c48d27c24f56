// A project's upload settings: the thirteen attributes of the node
// Setup/Ftp of ProjectDef.prj, and the connection parameters that an upload
// derives from them. No windows: the settings dialog (frm_setup.h), the
// upload window and the terminal upload all come here.
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

// What the upload queue is given to connect and log in.
struct ConnectionParameters {
  std::string remoteHost;
  std::string username;
  std::string password;
  std::string account;
  std::string port;        // as stored, "" included
  std::string preCommand;  // raw command lines sent before the log-in, each ending in CR LF
  bool passive = false;
};

// The connection parameters of the settings:
//   FirewallFlag not "1":  Ip, User, no pre-commands
//   "1", type "0" (OPEN):  FirewallIP, User, "OPEN <Ip>"
//   "1", type "1" (SITE):  FirewallIP, User, "USER <FirewallUser>",
//                          "PASS <FirewallPassword>", "SITE <Ip>"
//   "1", type "2":         FirewallIP, User@Ip, no pre-commands
//   "1", type "3":         FirewallIP, User@Ip, "USER <FirewallUser>",
//                          "PASS <FirewallPassword>"
//   "1", any other type:   no host, no user, no pre-commands
// Password, Account and Port pass as stored; passive when PassMode is "1".
// The flags and the type are compared as texts.
ConnectionParameters connectionParameters(const FtpSettings& settings);

// The same, read from the project's Setup node.
inline ConnectionParameters connectionParameters(const cvDomNode& setupNode) {
  return connectionParameters(readFtpSettings(setupNode));
}

}  // namespace quill
