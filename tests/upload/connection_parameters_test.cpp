// The upload settings turned into connection parameters: every firewall
// kind, the text comparisons, and a setting that is missing.
#include <gtest/gtest.h>

#include "common/automation_error.h"
#include "generator/upload/connection_parameters.h"

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
    EXPECT_EQ(p.password + "|" + p.account + "|" + p.port, "secret|acct|2121");
    EXPECT_TRUE(p.passive);
  }
  for (const char* passMode : {"0", "", "true", "1 "})
    EXPECT_FALSE(connectionParameters(ftpNode("0", "0", passMode)).passive) << passMode;
}

// The TLS settings and AskPassword are read with their defaults: a project
// without them is plain FTP with its stored password. AskPassword "1" sets
// a stored password aside.
TEST(ConnectionParameters, SecuritySettingsHaveDefaults) {
  DomNodeRef node = ftpNode("0", "0");
  ConnectionParameters p = connectionParameters(node);
  EXPECT_EQ(p.security + "|" + p.tlsFingerprint + "|" + p.password, "||secret");
  EXPECT_FALSE(p.askPassword);
  for (const auto& [k, v] : {std::pair{"Security", "implicit"}, {"TlsFingerprint", "ab:cd"}, {"AskPassword", "1"}})
    node->loadAttr(k, v);
  p = connectionParameters(node);
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

}  // namespace
}  // namespace quill
