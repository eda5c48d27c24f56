// The control against a scripted server: every reply is exactly what the
// test sends, so each protocol path can be driven on purpose.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "common/automation_error.h"
#include "ftp_test_support.h"
#include "ftpcontrol/code_converter.h"
#include "ftpcontrol/widget/ftp_widget.h"
#include "ftpcontrol/tcp_socket.h"

using namespace ftptest;
using quill::AutomationError;
using quill::FtpControl;

namespace {

class FtpScripted : public ::testing::Test {
 protected:
  FtpScripted() { rec.attach(ftp); }

  // USER -> 331, PASS -> 230, TYPE -> 200, QUIT -> 221 and close.
  bool standard(const QString& l) {
    if (l.startsWith("USER ")) server.send("331 Password required\r\n");
    else if (l.startsWith("PASS ")) server.send("230 Logged in\r\n");
    else if (l.startsWith("TYPE ")) server.send("200 Type set\r\n");
    else if (l == "QUIT") { server.send("221 Bye\r\n"); server.closeClient(); }
    else return false;
    return true;
  }
  void connectWith(std::function<void(const QString&)> onLine) {
    server.onLine = std::move(onLine);
    ftp.setPort(server.port());
    ftp.Connect("127.0.0.1", "bob", "secret");
  }
  void login() {
    connectWith([this](const QString& l) { standard(l); });
    ASSERT_TRUE(waitUntil([&] { return rec.done == 1; }));
    ASSERT_EQ(rec.events.last(), "CommandDone 0 Connect Logged in");
    server.lines.clear();
    rec.events.clear();
    rec.done = 0;
  }
  // After login: answers data commands through `onData`, the rest by `standard`.
  void script(std::function<void(const QString&)> onData) {
    server.onLine = [this, onData](const QString& l) {
      if (!standard(l)) onData(l);
    };
  }
  bool waitDone(int n) { return waitUntil([&] { return rec.done >= n; }); }

  int app_ = (ensureApp<QApplication>(), 0);
  ScriptedServer server;
  FtpControl ftp;
  Recorder rec;
};

TEST_F(FtpScripted, MultiLineGreetingSplitReplyAndLoginTrace) {
  server.greeting = "220-Welcome\r\n220-to the test\r\n";
  connectWith([this](const QString& l) {
    if (l.startsWith("USER ")) {
      server.send("33");  // a reply cut in two blocks
      settle(50);
      server.send("1 Password required\r\n");
    } else {
      standard(l);
    }
  });
  settle();
  EXPECT_TRUE(server.lines.isEmpty()) << "USER must wait for the last greeting line";
  EXPECT_EQ(ftp.state(), "Connect");
  server.send("220 ready\r\n");
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(server.lines, QStringList({"USER bob", "PASS secret"}));
  EXPECT_EQ(rec.events, QStringList({"Connected", "CommandDone 0 Connect Logged in"}));
  EXPECT_TRUE(rec.traces.contains("Connect>>USER bob"));
  EXPECT_TRUE(rec.traces.contains("Connect>>PASS ***"));
  EXPECT_FALSE(rec.traces.join('\n').contains("secret"));
  EXPECT_TRUE(ftp.IsIdle());
  EXPECT_EQ(ftp.state(), "DONE");
}

TEST_F(FtpScripted, LoginVariants230Direct332AndPreCommands) {
  connectWith([this](const QString&) { server.send("230 No password needed\r\n"); });
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(server.lines, QStringList({"USER bob"}));
  EXPECT_EQ(rec.lastCode, 0);

  ftp.Abend();
  ASSERT_TRUE(waitUntil([&] { return ftp.state().isEmpty(); }));
  ScriptedServer s2;
  s2.onLine = [&](const QString& l) {
    if (l == "USER fw") s2.send("331 firewall password\r\n");
    else if (l == "PASS fwpass") s2.send("230 through the firewall\r\n");
    else if (l == "USER bob") s2.send("331 Password\r\n");
    else if (l == "PASS secret") s2.send("332 Account\r\n");
    else if (l == "ACCT acct1") s2.send("230 ok\r\n");
  };
  ftp.setPort(s2.port());
  ftp.setAccount("acct1");
  ftp.setPreCommand("USER fw\r\nPASS fwpass\r\n");
  ftp.Connect("127.0.0.1", "bob", "secret");
  ASSERT_TRUE(waitDone(2));
  EXPECT_EQ(s2.lines, QStringList({"USER fw", "PASS fwpass", "USER bob", "PASS secret", "ACCT acct1"}));
  EXPECT_EQ(rec.lastCode, 0);
  EXPECT_EQ(rec.lastStat, "Connect");
}

TEST_F(FtpScripted, CommandQueuesAndFailureReplies) {
  login();
  script([this](const QString& l) {
    if (l.startsWith("CWD ")) server.send("250 CWD ok\r\n");
    else if (l == "PWD") server.send("257 \"/x\" is current\r\n");
    else if (l == "RNFR a") server.send("350 Ready\r\n");
    else if (l == "RNFR missing") server.send("550 No such file\r\n");
    else if (l.startsWith("RNTO ")) server.send("250 Renamed\r\n");
    else if (l.startsWith("MKD ")) server.send("550 Exists\r\n");
  });
  ftp.Cd("x");
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(server.lines, QStringList({"CWD x", "PWD"}));
  EXPECT_EQ(rec.events, QStringList({"CommandDone 0 Cd \"/x\" is current"}));

  ftp.setNoPwdAfterCd(true);
  ftp.Cd("y");
  ASSERT_TRUE(waitDone(2));
  EXPECT_EQ(server.lines.mid(2), QStringList({"CWD y"}));

  ftp.Rename("a", "b");
  ASSERT_TRUE(waitDone(3));
  ftp.Rename("missing", "c");
  ASSERT_TRUE(waitDone(4));
  settle(50);
  EXPECT_EQ(server.lines.mid(3), QStringList({"RNFR a", "RNTO b", "RNFR missing"}));
  EXPECT_EQ(rec.events.mid(2), QStringList({"CommandDone 0 Rename Renamed",
                                            "CommandDone 550 Rename No such file"}));

  ftp.MkDir("d");
  ASSERT_TRUE(waitDone(5));
  EXPECT_EQ(rec.lastCode, 550);
  EXPECT_TRUE(ftp.IsIdle());
  EXPECT_TRUE(ftp.controlSocket().isConnected());
}

TEST_F(FtpScripted, ErrorsNotIdlingAlreadyConnectedAndLineBreaksRefused) {
  auto number = [](const std::function<void()>& f, std::string* source = nullptr) {
    try {
      f();
    } catch (const AutomationError& e) {
      if (source) *source = e.source() + ":" + e.description();
      return e.number();
    }
    return 0;
  };
  std::string src;
  EXPECT_EQ(number([&] { ftp.Cd("x"); }, &src), 17);
  EXPECT_EQ(src, "Cd:Not Idling");
  EXPECT_EQ(number([&] { ftp.DisConnect(); }), 0);  // nothing to disconnect

  // A refused connect request leaves the control unconnected; a refused
  // connection ends with DisConnected carrying the socket's error.
  ftp.setPort("not a port");
  EXPECT_NE(number([&] { ftp.Connect("127.0.0.1", "u", "p"); }), 0);
  EXPECT_EQ(ftp.state(), "");
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  ftp.setPort(QString::number(probe.serverPort()));
  probe.close();
  ftp.Connect("127.0.0.1", "u", "p");
  ASSERT_TRUE(waitUntil([&] { return !rec.events.isEmpty(); }));
  EXPECT_TRUE(rec.events[0].startsWith("DisConnected 1")) << rec.events[0].toStdString();
  EXPECT_TRUE(rec.events[0].endsWith("(connect)"));
  EXPECT_EQ(ftp.state(), "");
  rec.events.clear();

  login();
  EXPECT_EQ(number([&] { ftp.Connect("127.0.0.1", "u", "p"); }, &src), 59);
  EXPECT_EQ(src, "Connect:AlreadyConnected");
  // Line breaks inside an argument would smuggle in a second command.
  EXPECT_EQ(number([&] { ftp.MkDir("a\r\nDELE important"); }, &src), 54);
  EXPECT_EQ(number([&] { ftp.Quote("NOOP\nDELE x"); }), 54);
  EXPECT_EQ(number([&] { ftp.Rename("a", "b\rc"); }), 54);
  EXPECT_EQ(number([&] { ftp.setAccount("a\r\nb"); }), 54);
  settle(50);
  EXPECT_TRUE(server.lines.isEmpty());
  EXPECT_TRUE(ftp.IsIdle());

  script([](const QString&) {});  // NOOP never answered: stays busy
  ftp.Noop();
  EXPECT_EQ(number([&] { ftp.Pwd(); }, &src), 17);
  EXPECT_EQ(src, "Pwd:Not Idling");
  EXPECT_EQ(number([&] { ftp.DisConnect(); }), 17);
}

TEST_F(FtpScripted, PropertyRulesAndPersistence) {
  auto code = [&](const std::function<void()>& f) {
    try {
      f();
    } catch (const AutomationError& e) {
      return e.source() + ":" + e.description();
    }
    return std::string("ok");
  };
  EXPECT_EQ(ftp.port(), "21");
  EXPECT_EQ(ftp.filetype(), "I");
  EXPECT_EQ(ftp.fileCode(), "BIN");
  EXPECT_EQ(ftp.sysCode(), "EUC");
  EXPECT_EQ(ftp.rest(), -1);
  EXPECT_TRUE(ftp.transErrorEvent());
  EXPECT_EQ(ftp.state(), "");
  EXPECT_FALSE(ftp.IsIdle());
  ftp.setFiletype("ascii");
  EXPECT_EQ(ftp.filetype(), "A");
  ftp.setFiletype("binary");
  EXPECT_EQ(ftp.filetype(), "I");
  ftp.setFiletype("");
  EXPECT_EQ(ftp.filetype(), "");
  EXPECT_EQ(code([&] { ftp.setFiletype("x"); }), "FileType:Invalid File Type");
  for (auto [in, out] : {std::pair{"none", "BIN"}, {"jis", "JIS"}, {"ansi", "SJIS"}, {"Euc", "EUC"}}) {
    ftp.setFileCode(in);
    EXPECT_EQ(ftp.fileCode(), out);
  }
  EXPECT_EQ(code([&] { ftp.setFileCode("utf8"); }), "FileCode:Invalid File Kanji Code");
  ftp.setSysCode("sjis");
  EXPECT_EQ(ftp.sysCode(), "SJIS");
  EXPECT_EQ(code([&] { ftp.setSysCode("jis"); }), "SysCode:Invalid System Kanji Code");

  FtpControl::PropertyBag bag;
  ftp.setPassive(true);
  ftp.setPort("2121");
  ftp.setTransErrorEvent(true);
  ftp.writeProperties(bag);
  EXPECT_EQ(bag.keys(), (std::vector<std::string>{"NoPwdAfterCd", "PreCommand", "Passive", "Type", "SysCode",
                                                  "FileCode", "Account", "Port", "TransErrorEvent"}));
  FtpControl copy;
  copy.readProperties(bag);
  EXPECT_TRUE(copy.passive());
  EXPECT_EQ(copy.port(), "2121");
  EXPECT_EQ(copy.sysCode(), "SJIS");
  EXPECT_TRUE(copy.transErrorEvent());
  FtpControl fromEmpty;
  fromEmpty.readProperties({});
  EXPECT_FALSE(fromEmpty.transErrorEvent());  // a saved form without the key
  EXPECT_EQ(fromEmpty.filetype(), "I");
  EXPECT_EQ(fromEmpty.port(), "21");
}

TEST_F(FtpScripted, PassiveReplyParsingAndUnparsableReply) {
  const auto address = FtpControl::parsePasvReply("227 Entering Passive Mode (192,168,0,10,4,1)");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->host, "192.168.0.10");
  EXPECT_EQ(address->port, "1025");
  EXPECT_FALSE(FtpControl::parsePasvReply("227 Entering Passive Mode 127,0,0,1,4,1"));
  EXPECT_FALSE(FtpControl::parsePasvReply("227 (127,0,0,1,4)"));

  login();
  ftp.setPassive(true);
  script([this](const QString& l) {
    if (l == "PASV") server.send("227 Entering Passive Mode 127,0,0,1,4,1\r\n");
  });
  ftp.GetFile("f", "local");
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(rec.events, QStringList({"CommandDone -1 GetFile Entering Passive Mode 127,0,0,1,4,1"}));
  EXPECT_EQ(server.lines, QStringList({"TYPE I", "PASV"}));
  EXPECT_TRUE(ftp.IsIdle());
}

// 226 before or after the data connection closes: CommandDone always follows
// GetClose; REST is sent once and Rest is -1 after the transfer.
TEST_F(FtpScripted, DownloadEndsAfterCloseWhicheverComesFirst) {
  login();
  ftp.setPassive(true);
  bool replyFirst = true;
  script([&](const QString& l) {
    if (l == "PASV") server.send(server.pasvReply());
    else if (l.startsWith("REST ")) server.send("350 Restarting\r\n");
    else if (l.startsWith("RETR ")) {
      ASSERT_TRUE(waitUntil([&] { return server.dataUp(); }));
      server.send("150 Opening\r\n");
      server.sendData("hello ");
      server.sendData("world");
      if (replyFirst) {
        server.send("226 Done\r\n");
        settle(50);
        server.closeData();
      } else {
        server.closeData();
        ASSERT_TRUE(waitUntil([&] { return rec.events.contains("GetClose"); }));
        server.send("226 Done\r\n");
      }
    }
  });
  ftp.setRest(5);
  ftp.GetFile("f.bin", "/tmp/f.bin");
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(rec.events, QStringList({"GetOpen /tmp/f.bin", "GetClose", "CommandDone 0 GetFile Done"}));
  EXPECT_EQ(rec.got, "hello world");
  EXPECT_EQ(server.lines, QStringList({"TYPE I", "REST 5", "PASV", "RETR f.bin"}));
  EXPECT_EQ(ftp.rest(), -1);

  replyFirst = false;
  rec.events.clear();
  server.lines.clear();
  ftp.GetFile("g.bin", "g");
  ASSERT_TRUE(waitDone(2));
  EXPECT_EQ(rec.events, QStringList({"GetOpen g", "GetClose", "CommandDone 0 GetFile Done"}));
  EXPECT_EQ(server.lines, QStringList({"TYPE I", "PASV", "RETR g.bin"}));
}

TEST_F(FtpScripted, UploadsZeroByteAndBlocksThenPutCloseBeforeDone) {
  login();
  ftp.setPassive(true);
  script([&](const QString& l) {
    if (l == "PASV") server.send(server.pasvReply());
    else if (l.startsWith("STOR ")) {
      server.send("150 Ok to send\r\n");
      // The client ends its stream; then the server closes and confirms.
      ASSERT_TRUE(waitUntil([&] { return server.dataEof; }));
      server.closeData();
      server.send("226 Stored\r\n");
    }
  });
  rec.feed({});
  ftp.PutFile("empty", rec.source());
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(rec.events, QStringList({"PutClose", "CommandDone 0 PutFile Stored"}));
  EXPECT_TRUE(server.dataIn.isEmpty());
  EXPECT_TRUE(rec.traces.contains("Tcpip3_start"));

  QByteArray payload;
  for (int i = 0; i < 30000; ++i) payload += char(i * 7);
  rec.feed(payload, 8192);
  ftp.PutFile("data.bin", rec.source());
  ASSERT_TRUE(waitDone(2));
  EXPECT_EQ(server.dataIn, payload);

  // A failure reply while the data connection is open still closes the
  // transfer (the host's file) before the operation ends.
  script([&](const QString& l) {
    if (l == "PASV") server.send(server.pasvReply());
    else if (l.startsWith("STOR ")) {
      ASSERT_TRUE(waitUntil([&] { return server.dataUp(); }));
      server.send("552 Disk full\r\n");
    }
  });
  rec.events.clear();
  rec.putData = [](QByteArray& d) { d = QByteArray(8192, 'x'); };  // never ends by itself
  ftp.PutFile("full.bin", rec.source());
  ASSERT_TRUE(waitDone(3));
  EXPECT_EQ(rec.events, QStringList({"PutClose", "CommandDone 552 PutFile Disk full"}));
}

TEST_F(FtpScripted, ActiveEarlyConnectionAndListingLastLineWithoutCrLf) {
  login();
  ftp.setFiletype("I");
  script([&](const QString& l) {
    if (l.startsWith("PORT ")) {
      // Connect at once, before the transfer command, as some servers do.
      server.connectActive(l);
      ASSERT_TRUE(waitUntil([&] { return rec.traces.contains("Tcpip3_Connected"); }));
      server.send("200 PORT ok\r\n");
    } else if (l == "LIST" || l.startsWith("NLST")) {
      ASSERT_TRUE(waitUntil([&] { return server.dataUp(); }));
      server.send("150 Here it comes\r\n");
      server.sendData("a.txt\r\nb");
      server.sendData(".txt\r\nlast");
      server.closeData();
      server.send("226 Listed\r\n");
    }
  });
  ftp.Dir("");
  ASSERT_TRUE(waitDone(1));
  ASSERT_EQ(server.lines.size(), 3);
  EXPECT_EQ(server.lines[0], "TYPE A");
  EXPECT_TRUE(server.lines[1].startsWith("PORT 127,0,0,1,")) << server.lines[1].toStdString();
  EXPECT_EQ(server.lines[2], "LIST");
  EXPECT_EQ(rec.events, QStringList({"DirOpen", "DirData a.txt", "DirData b.txt", "DirData last", "DirClose",
                                     "CommandDone 0 Dir Listed"}));
  EXPECT_TRUE(rec.traces.contains("Tcpip3_Connected"));
  ftp.Ls("sub");
  ASSERT_TRUE(waitDone(2));
  EXPECT_EQ(server.lines.last(), "NLST sub");
}

TEST_F(FtpScripted, AbortSendsUrgentInterruptAndEndsOnSecondReply) {
  login();
  ftp.setPassive(true);
  script([&](const QString& l) {
    if (l == "PASV") server.send(server.pasvReply());
    else if (l.startsWith("RETR ")) {
      ASSERT_TRUE(waitUntil([&] { return server.dataUp(); }));
      server.send("150 Opening\r\n");
      server.sendData("partial");
    }
  });
  for (const char* first : {"426 Transfer aborted\r\n", "225 Nothing to abort\r\n"}) {
    const int before = rec.done;
    rec.events.clear();
    rec.got.clear();
    ftp.GetFile("big", "big");
    ASSERT_TRUE(waitUntil([&] { return rec.events.contains("GetOpen big") && rec.got.endsWith("partial"); }));
    ftp.Abort();
    ASSERT_TRUE(waitUntil([&] { return server.rawLines.last().endsWith("\xf2" "ABOR"); }));
    EXPECT_TRUE(server.rawLines.last().startsWith("\xff\xf4"));  // IAC IP before the urgent IAC
    EXPECT_TRUE(rec.traces.contains("GetFile>>ABOR"));
    server.send(first);
    settle(100);
    EXPECT_EQ(rec.done, before) << "the first of the two replies does not end the abort";
    server.send("226 ABOR ok\r\n");
    ASSERT_TRUE(waitDone(before + 1));
    EXPECT_EQ(rec.lastStat, "GetFile");
    EXPECT_EQ(rec.lastCode, QByteArray(first).startsWith("426") ? 426 : 0);
    EXPECT_TRUE(ftp.IsIdle());
  }
}

TEST_F(FtpScripted, DataConnectionErrorReportedByEventOrMessage) {
  login();
  ftp.setPassive(true);
  QTcpServer probe;  // a free loopback port with nobody listening
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 dead = probe.serverPort();
  probe.close();
  script([&](const QString& l) {
    if (l == "PASV")
      server.send(QStringLiteral("227 Passive (127,0,0,1,%1,%2)\r\n").arg(dead >> 8).arg(dead & 255).toLatin1());
    else if (l.startsWith("LIST")) {
      settle(100);
      server.send("425 Can't open data connection\r\n");
    }
  });
  ftp.Dir("");
  ASSERT_TRUE(waitDone(1));
  EXPECT_TRUE(rec.events.first().startsWith("TransError ")) << rec.events.join('|').toStdString();
  EXPECT_EQ(rec.events.last(), "CommandDone 425 Dir Can't open data connection");

  QStringList boxes;
  ftp.setTransErrorEvent(false);
  ftp.setMessageHandler([&](const QString& m) { boxes << m; });
  rec.events.clear();
  ftp.Dir("");
  ASSERT_TRUE(waitDone(2));
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0].startsWith("Tcpip3_WsError ")) << boxes[0].toStdString();
  EXPECT_FALSE(rec.events.join('|').contains("TransError"));
}

TEST_F(FtpScripted, EndlessReplyLineClosesConnectionAndOpenTransfer) {
  login();
  ftp.setPassive(true);
  script([&](const QString& l) {
    if (l == "PASV") server.send(server.pasvReply());
  });
  ftp.Dir("");
  ASSERT_TRUE(waitUntil([&] { return rec.events.contains("DirOpen"); }));
  server.send(QByteArray(70 * 1024, 'x'));
  ASSERT_TRUE(waitUntil([&] { return rec.events.size() == 3; }));
  EXPECT_EQ(rec.events, QStringList({"DirOpen", "DirClose",
                                     QStringLiteral("DisConnected %1 Reply line longer than 65536 bytes; "
                                                    "connection closed").arg(quill::kFtpReplyTooLong)}));
  EXPECT_EQ(rec.done, 0);
  EXPECT_EQ(ftp.state(), "");
  EXPECT_FALSE(ftp.IsIdle());
}

TEST_F(FtpScripted, ServerCloseDisconnectsAndLabelFollows) {
  quill::FtpWidget widget(nullptr, &ftp);
  auto* label = widget.findChild<QLabel*>("Label1");
  ASSERT_NE(label, nullptr);
  login();
  EXPECT_TRUE(label->text().startsWith("Received 230 Logged in")) << label->text().toStdString();
  ftp.DisConnect();
  ASSERT_TRUE(waitUntil([&] { return rec.events.size() == 2; }));
  EXPECT_EQ(rec.events, QStringList({"CommandDone 0 DisConnect Bye", "DisConnected 0 "}));
  EXPECT_EQ(label->text(), "Closed");
  EXPECT_EQ(ftp.state(), "");
  ScriptedServer again;
  again.onLine = [&](const QString&) { again.send("230 ok\r\n"); };
  ftp.setPort(again.port());
  ftp.Connect("127.0.0.1", "bob", "x");  // no "AlreadyConnected" after the close
  ASSERT_TRUE(waitDone(2));
}

TEST_F(FtpScripted, JapaneseCommandsRepliesAndFileData) {
  ftp.setSysCode("SJIS");
  login();
  const QString name = QString::fromUtf8("日本語.txt");
  script([&](const QString& l) {
    if (l.startsWith("MKD ")) server.send("257 " + quill::convertAll("CP932", "UTF-8", "\"作成\"") + "\r\n");
    else if (l == "PASV") server.send(server.pasvReply());
    else if (l.startsWith("RETR ") || l.startsWith("STOR ")) {
      ASSERT_TRUE(waitUntil([&] { return server.dataUp(); }));
      server.send("150 go\r\n");
      if (l.startsWith("RETR ")) {
        const QByteArray euc = quill::convertAll("EUC-JP-MS", "UTF-8", "漢字テキスト");
        server.sendData(euc.left(3));  // cut inside a character
        settle(30);
        server.sendData(euc.mid(3));
        server.closeData();
      } else {
        ASSERT_TRUE(waitUntil([&] { return server.dataEof; }));
        server.closeData();
      }
      server.send("226 ok\r\n");
    }
  });
  ftp.MkDir(name);
  ASSERT_TRUE(waitDone(1));
  EXPECT_EQ(server.rawLines.last(), "MKD " + quill::convertAll("CP932", "UTF-8", name.toUtf8()));
  EXPECT_EQ(rec.lastMsg, QString::fromUtf8("\"作成\""));

  ftp.setPassive(true);
  ftp.setFileCode("EUC");
  ftp.GetFile("x", "x");
  ASSERT_TRUE(waitDone(2));
  EXPECT_EQ(QString::fromUtf8(rec.got), QString::fromUtf8("漢字テキスト"));

  ftp.setFileCode("JIS");
  rec.feed(QByteArray("日本a"), 4);  // blocks cut inside characters
  ftp.PutFile("j.txt", rec.source());
  ASSERT_TRUE(waitDone(3));
  EXPECT_EQ(server.dataIn, QByteArray("\x1b$BF|K\\\x1b(Ba"));
}

TEST(CodeConverter, HoldsSplitCharactersMarksInvalidAndFlushesShiftState) {
  quill::CodeConverter toUtf8("UTF-8", "CP932");
  const QByteArray sjis = quill::convertAll("CP932", "UTF-8", "表示");  // 0x95 0x5C: '\' as second byte
  EXPECT_EQ(sjis, QByteArray("\x95\x5c\x8e\xa6"));
  EXPECT_EQ(toUtf8.convert(sjis.left(1)), "");
  EXPECT_EQ(toUtf8.convert(sjis.mid(1)), "表示");
  EXPECT_EQ(toUtf8.convert("a\x81"), "a");
  EXPECT_EQ(toUtf8.finish(), "?");  // an incomplete character at the end
  EXPECT_EQ(quill::convertAll("UTF-8", "EUC-JP-MS", "\xff" "b"), "?b");
  quill::CodeConverter toJis("ISO-2022-JP", "UTF-8");
  QByteArray jis = toJis.convert("日");
  jis += toJis.finish();
  EXPECT_EQ(jis, QByteArray("\x1b$BF|\x1b(B"));
}

}  // namespace
