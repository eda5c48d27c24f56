// How a project publishes, beyond where to: the attributes SyncMode,
// Parallel and Timeout of Setup\Ftp in ProjectDef.prj. Each is read with its
// default when absent, so a project that never had them publishes exactly
// as before: every file, one connection.
#pragma once

#include <stdexcept>
#include <string>

#include "store/dom.h"

namespace quill {

class CtlFtpUL;

// Most connections a publish may use at once, and the longest stall timeout.
constexpr int kMaxConnections = 16;
constexpr int kMaxTimeoutS = 3600;
constexpr int kDefaultStallTimeoutS = 30;

struct PublishOptions {
  bool sync = false;       // SyncMode "1": send only what changed, delete what is gone
  int connections = 1;     // Parallel: connections of the file phase
  int stallTimeoutS = kDefaultStallTimeoutS;  // Timeout: seconds without progress before a connection counts as lost
};

// A value that is there but makes no sense (Parallel "x", Timeout "0").
class PublishOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// PublishOptionError for a value that makes no sense. As the settings dialog
// reads them (`lenient`), such a value shows the default instead.
PublishOptions readPublishOptions(const DomNodeRef& ftpNode, bool lenient = false);
void applyPublishOptions(CtlFtpUL& queue, const PublishOptions& options);
// Writes SyncMode ("1" or "0"), Parallel and Timeout, each only when the node
// has it already or the value is not its default, so that the file of a
// project that never used them stays as it was.
void writePublishOptions(const DomNodeRef& ftpNode, const PublishOptions& options);

// FTP over TLS and the password as the settings dialog edits them: the
// attributes Security ("", "explicit", "implicit") and AskPassword ("1": the
// file keeps no password; it is asked for at upload time). Read with their
// defaults; written, like the options above, only once used.
struct SecurityOptions {
  std::string security;
  bool askPassword = false;
};
SecurityOptions readSecurityOptions(const DomNodeRef& ftpNode);
void writeSecurityOptions(const DomNodeRef& ftpNode, const SecurityOptions& options);

}  // namespace quill
