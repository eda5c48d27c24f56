// The upload settings without any window or server: as the dialog reads and
// writes them, and turned into connection parameters (every firewall kind,
// the text comparisons, a setting that is missing).
#include <gtest/gtest.h>

#include "common/automation_error.h"
#include "generator/upload/connection_parameters.h"
#include "generator/upload/ftp_settings.h"

namespace quill {
namespace {

DomNodeRef ftpNode(const std::string& flag, const std::string& type, const std::string& passMode = "1") {
  auto node = cvDomNode::create("Ftp");
  for (const auto& [k, v] : std::initializer_list<std::pair<const char*, std::string>>{
           {"Ip", "www.example.jp"}, {"Port", "2121"}, {"User", "shop"}, {"Password", "secret"},
           {"Account", "acct"}, {"PassMode", passMode}, {"FirewallFlag", flag}, {"FirewallType", type},
           {"FirewallIP", "fw.local"}, {"FirewallUser", "fwuser"}, {"FirewallPassword", "fwpass"}})
    node->loadAttr(k, v);
  return node;
}

TEST(ConnectionParameters, FollowTheFirewallKind) {
  struct Row {
    const char* flag;
    const char* type;
    const char* host;
    const char* user;
    const char* pre;
  };
  const Row rows[] = {
      {"0", "1", "www.example.jp", "shop", ""},
      {"", "0", "www.example.jp", "shop", ""},
      {"true", "0", "www.example.jp", "shop", ""},  // only "1" switches the firewall on
      {"1", "0", "fw.local", "shop", "OPEN www.example.jp\r\n"},
      {"1", "1", "fw.local", "shop", "USER fwuser\r\nPASS fwpass\r\nSITE www.example.jp\r\n"},
      {"1", "2", "fw.local", "shop@www.example.jp", ""},
      {"1", "3", "fw.local", "shop@www.example.jp", "USER fwuser\r\nPASS fwpass\r\n"},
      {"1", "-1", "", "", ""},
      {"1", "03", "", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.flag) + "/" + r.type);
    const ConnectionParameters p = connectionParameters(ftpNode(r.flag, r.type));
    EXPECT_EQ(p.remoteHost, r.host);
    EXPECT_EQ(p.username, r.user);
    EXPECT_EQ(p.preCommand, r.pre);
    // Without TLS settings: plain FTP with the stored password.
    EXPECT_EQ(p.password + "|" + p.account + "|" + p.port + "|" + p.security + "|" + p.tlsFingerprint,
              "secret|acct|2121||");
    EXPECT_TRUE(p.passive && !p.askPassword);
  }
  for (const char* passMode : {"0", "", "true", "1 "})
    EXPECT_FALSE(connectionParameters(ftpNode("0", "0", passMode)).passive) << passMode;
}

// The TLS settings are read; AskPassword "1" sets a stored password aside.
TEST(ConnectionParameters, SecuritySettingsAreRead) {
  DomNodeRef node = ftpNode("0", "0");
  for (const auto& [k, v] : {std::pair{"Security", "implicit"}, {"TlsFingerprint", "ab:cd"}, {"AskPassword", "1"}})
    node->loadAttr(k, v);
  const ConnectionParameters p = connectionParameters(node);
  EXPECT_EQ(p.security + "|" + p.tlsFingerprint + "|" + p.password, "implicit|ab:cd|");
  EXPECT_TRUE(p.askPassword);
}

// A missing setting raises and adds nothing; the firewall settings are
// needed only with the firewall on.
TEST(ConnectionParameters, AMissingSettingRaisesTheStoresError) {
  DomNodeRef node = ftpNode("0", "0");
  node->removeAttr("FirewallIP");
  EXPECT_EQ(connectionParameters(node).remoteHost, "www.example.jp");
  node->removeAttr("Account");
  try {
    connectionParameters(node);
    ADD_FAILURE() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(std::to_string(e.number()) + " " + e.description(), "10006 Wrong AttrName of Account");
  }
  EXPECT_FALSE(node->hasAttr("Account"));
}

// Reading creates nothing; writing keeps the places of the attributes there
// and adds the missing ones (and a missing Ftp node) in writing order.
TEST(FtpSettings, ReadAndWriteWhateverTheNodeHolds) {
  const DomNodeRef setup = textToNode("<Setup><Other/><Ftp Port=\"2121\" Extra=\"x\" Ip=\"host\"/></Setup>");
  FtpSettings s = readFtpSettings(*setup);
  EXPECT_EQ(s.ip, "host");
  EXPECT_EQ(s.port, "2121");
  EXPECT_EQ(s.user, "");
  EXPECT_EQ(nodeToText(*setup), "<Setup><Other/><Ftp Port=\"2121\" Extra=\"x\" Ip=\"host\"/></Setup>");

  s.user = "u";
  s.firewallType = "-1";
  writeFtpSettings(*setup, s);
  EXPECT_EQ(nodeToText(*setup),
            "<Setup><Other/><Ftp Port=\"2121\" Extra=\"x\" Ip=\"host\" User=\"u\" Password=\"\" Account=\"\" "
            "ServerPath=\"\" PassMode=\"\" TxtFile=\"\" FirewallFlag=\"\" FirewallType=\"-1\" FirewallIP=\"\" "
            "FirewallUser=\"\" FirewallPassword=\"\"/></Setup>");

  const DomNodeRef bare = textToNode("<Setup/>");
  EXPECT_EQ(readFtpSettings(*bare).ip, "");
  writeFtpSettings(*bare, s);
  EXPECT_EQ(readFtpSettings(*bare).user, "u");
  EXPECT_EQ(bare->nodeAt(1)->attrs(),
            (std::vector<std::string>{"Ip", "User", "Password", "Account", "Port", "ServerPath", "PassMode",
                                      "TxtFile", "FirewallFlag", "FirewallType", "FirewallIP", "FirewallUser",
                                      "FirewallPassword"}));
}

}  // namespace
}  // namespace quill
