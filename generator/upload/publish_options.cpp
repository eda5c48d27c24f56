// A number is a plain decimal within its range; anything else is refused
// with the attribute's name, rather than quietly replaced by the default.
#include "generator/upload/publish_options.h"

#include <charconv>
#include <string>

#include "generator/upload/ctl_ftp_ul.h"

namespace quill {

namespace {


std::string optionalAttr(const DomNodeRef& node, const char* name, const char* fallback) {
  return node->hasAttr(name) ? node->getAttr(name, Missing::Raise) : std::string(fallback);
}

int wholeNumber(const DomNodeRef& node, const char* name, int fallback, int low, int high, bool lenient) {
  if (!node->hasAttr(name)) return fallback;
  const std::string text = node->getAttr(name, Missing::Raise);
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    if (lenient) return fallback;
    throw PublishOptionError("the upload setting " + std::string(name) + " must be a whole number from " +
                             std::to_string(low) + " to " + std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

void writeIfUsed(const DomNodeRef& node, const char* name, const std::string& value, const std::string& fallback) {
  if (node->hasAttr(name) || value != fallback) node->loadAttr(name, value);
}

}  // namespace

PublishOptions readPublishOptions(const DomNodeRef& ftpNode, bool lenient) {
  PublishOptions o;
  o.sync = optionalAttr(ftpNode, "SyncMode", "0") == "1";
  o.connections = wholeNumber(ftpNode, "Parallel", o.connections, 1, kMaxConnections, lenient);
  o.stallTimeoutS = wholeNumber(ftpNode, "Timeout", o.stallTimeoutS, 1, kMaxTimeoutS, lenient);
  return o;
}

void writePublishOptions(const DomNodeRef& ftpNode, const PublishOptions& options) {
  const PublishOptions defaults;
  writeIfUsed(ftpNode, "SyncMode", options.sync ? "1" : "0", "0");
  writeIfUsed(ftpNode, "Parallel", std::to_string(options.connections), std::to_string(defaults.connections));
  writeIfUsed(ftpNode, "Timeout", std::to_string(options.stallTimeoutS), std::to_string(defaults.stallTimeoutS));
}

SecurityOptions readSecurityOptions(const DomNodeRef& ftpNode) {
  return {optionalAttr(ftpNode, "Security", ""), optionalAttr(ftpNode, "AskPassword", "0") == "1"};
}

void writeSecurityOptions(const DomNodeRef& ftpNode, const SecurityOptions& options) {
  writeIfUsed(ftpNode, "Security", options.security, "");
  writeIfUsed(ftpNode, "AskPassword", options.askPassword ? "1" : "0", "0");
}

void applyPublishOptions(CtlFtpUL& queue, const PublishOptions& options) {
  queue.setSyncMode(options.sync);
  queue.setConnections(options.connections);
  queue.setStallTimeout(options.stallTimeoutS);
}

}  // namespace quill
