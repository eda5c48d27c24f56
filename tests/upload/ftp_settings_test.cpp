// The settings as the dialog reads and writes them, without any window.
#include "generator/upload/ftp_settings.h"

#include <gtest/gtest.h>

using namespace quill;

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
