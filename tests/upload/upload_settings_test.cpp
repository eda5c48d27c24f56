// The settings as stored and the connection parameters made from them,
// without any window.
#include "generator/upload/upload_settings.h"

#include <gtest/gtest.h>

using namespace quill;

// Every row of the firewall table, and the fields that pass unchanged; only
// PassMode "1" is passive.
TEST(ConnectionParameters, FollowTheFirewallTable) {
  struct Row {
    std::string flag, type;
    std::string host, user, preCommand;
    std::string passMode = "1";
    bool passive = true;
  };
  const std::string login = "USER fwuser\r\nPASS fwpass\r\n";
  const Row rows[] = {
      {"0", "1", "ftp.example.com", "shop", "", "0", false},
      {"", "0", "ftp.example.com", "shop", "", "", false},
      {"true", "0", "ftp.example.com", "shop", "", "true", false},  // only "1" switches anything on
      {"1", "0", "fw.local", "shop", "OPEN ftp.example.com\r\n"},
      {"1", "1", "fw.local", "shop", login + "SITE ftp.example.com\r\n"},
      {"1", "2", "fw.local", "shop@ftp.example.com", ""},
      {"1", "3", "fw.local", "shop@ftp.example.com", login},
      {"1", "-1", "", "", ""},
      {"1", "4", "", "", ""},
      {"1", "", "", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("flag '" + row.flag + "' type '" + row.type + "'");
    FtpSettings s;
    s.ip = "ftp.example.com";
    s.user = "shop";
    s.password = "secret";
    s.account = "acct";
    s.port = "";
    s.passMode = row.passMode;
    s.firewallFlag = row.flag;
    s.firewallType = row.type;
    s.firewallIp = "fw.local";
    s.firewallUser = "fwuser";
    s.firewallPassword = "fwpass";
    const ConnectionParameters p = connectionParameters(s);
    EXPECT_EQ(p.remoteHost, row.host);
    EXPECT_EQ(p.username, row.user);
    EXPECT_EQ(p.preCommand, row.preCommand);
    EXPECT_EQ(p.password, "secret");
    EXPECT_EQ(p.account, "acct");
    EXPECT_EQ(p.port, "");
    EXPECT_EQ(p.passive, row.passive);
  }
}

// Reading creates nothing and finds the settings in strict mode too; writing
// keeps the places of the attributes there and adds the missing ones (and a
// missing Ftp node) in writing order.
TEST(FtpSettings, ReadAndWriteWhateverTheNodeHolds) {
  cvDomDoc::setDebugFlag(true);
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
  cvDomDoc::setDebugFlag(false);
}
