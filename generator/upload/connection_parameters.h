// The upload settings of a project (the attributes of Setup\Ftp in
// ProjectDef.prj) turned into what the upload queue connects with. With a
// firewall, the host is the firewall and the log-in goes through it in one
// of four ways; PreCommand holds the raw lines sent before the log-in, each
// ended by CR LF. Security, TlsFingerprint and AskPassword are read with
// their defaults (plain FTP, no pin, the password from the file), so a
// project that never had them connects as before.
#pragma once

#include <string>

#include "store/dom.h"

namespace quill {

struct ConnectionParameters {
  std::string remoteHost;
  std::string username;
  std::string password;
  std::string account;
  std::string port;
  std::string preCommand;
  bool passive = false;
  std::string security;        // Security: "", "explicit" or "implicit"
  std::string tlsFingerprint;  // TlsFingerprint: the pinned certificate
  bool askPassword = false;    // AskPassword "1": the file holds no password; ask for it
};

// Reads the attributes the settings call for (a missing one raises the
// store's 10006). A firewall whose type is none of the four known ones gives
// an empty host, user and PreCommand: the connection then fails.
ConnectionParameters connectionParameters(const DomNodeRef& ftpNode);

}  // namespace quill
