// The control against a scripted server: every reply is exactly what the
// test sends, so each protocol path can be driven on purpose.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "common/automation_error.h"
#include "ftp_test_support.h"
#include "ftpcontrol/code_converter.h"
#include "ftpcontrol/tcp_socket.h"
#include "ftpcontrol/widget/ftp_widget.h"

using namespace ftptest;
using quill::AutomationError;
using quill::FtpControl;
using quill::kMaxReplyLine;

namespace {

using Replies = std::vector<std::pair<QString, QByteArray>>;

QByteArray sjis(const char* utf8) { return quill::convertAll("CP932", "UTF-8", utf8); }

QByteArray pattern() {
  QByteArray bytes;
  for (int i = 0; i < 30000; ++i) bytes += char(i * 7);
  return bytes;
}

// Each expected line must equal the actual one, or begin it when it ends in '*'.
bool matches(const QStringList& actual, const QStringList& expected) {
  if (actual.size() != expected.size()) return false;
  for (qsizetype i = 0; i < actual.size(); ++i) {
    const QString& e = expected[i];
    if (e.endsWith('*') ? !actual[i].startsWith(e.chopped(1)) : actual[i] != e) return false;
  }
  return true;
}

class FtpScripted : public ::testing::Test {
 protected:
  FtpScripted() { fresh(); }

  // A new server and control (rec is reattached to the new control).
  void fresh() {
    ftp.reset();
    server = std::make_unique<ScriptedServer>();
    ftp = std::make_unique<FtpControl>();
    rec = Recorder{};
    rec.attach(*ftp);
    server->seen = [this](const QString& what) { return rec.seen(what); };
  }
  // The server plays the first of `replies` whose key begins the line, else
  // it answers log-in, TYPE and QUIT as usual.
  void answer(const Replies& replies) {
    server->onLine = [this, replies](const QString& l) {
      for (const auto& [key, script] : replies)
        if (!key.isEmpty() && l.startsWith(key)) return server->play(script);
      if (l.startsWith("USER ")) server->play("331 Password required");
      else if (l.startsWith("PASS ")) server->play("230 Logged in");
      else if (l.startsWith("TYPE ")) server->play("200 Type set");
      else if (l == "QUIT") server->play("221 Bye"), server->closeClient();
    };
  }
  void connect() {
    ftp->setPort(server->port());
    ftp->Connect("127.0.0.1", "bob", "secret");
  }
  void login() {
    answer({});
    connect();
    ASSERT_TRUE(waitDone(1));
    ASSERT_EQ(rec.events.last(), "CommandDone 0 Connect Logged in");
    server->lines.clear();
    rec.events.clear();
    rec.traces.clear();
    rec.done = 0;
  }
  bool waitDone(int n) { return waitUntil([&] { return rec.done >= n; }); }

  int app_ = (ensureApp<QApplication>(), 0);
  std::unique_ptr<ScriptedServer> server;
  std::unique_ptr<FtpControl> ftp;
  Recorder rec;
};

// One operation from start to CommandDone against a scripted server.
struct Conversation {
  const char* name;
  std::function<void(FtpControl&)> setup;  // before the log-in
  // Without an operation the log-in itself is the case.
  std::function<void(FtpControl&, Recorder&)> operation;
  Replies replies;     // the key "" replaces the greeting
  QStringList wire;    // command lines the server received
  QStringList events;  // the control's events
  QStringList traces = {};  // trace lines that must be among those raised
  QByteArray got = {};      // downloaded bytes
  std::optional<QByteArray> stored = {};  // uploaded bytes
};

std::vector<Conversation> conversations() {
  using F = FtpControl;
  using R = Recorder;
  auto passive = [](F& f) { f.setPassive(true); };
  const char* const stored = "150 Ok to send|<eof>|<close>|226 Stored";
  const QByteArray euc = quill::convertAll("EUC-JP-MS", "UTF-8", "漢字テキスト");
  return {
      {"multi-line greeting, a reply cut in two, a bare continuation line", nullptr, nullptr,
       {{"", "220-Welcome|220-to the test|220 ready"}, {"USER ", "<raw:33>|<settle>|1 Password required"},
        {"PASS ", "230-|230 Logged in"}},
       {"USER bob", "PASS secret"}, {"Connected", "CommandDone 0 Connect Logged in"},
       {"Connect>>USER bob", "Connect>>PASS ***"}},
      {"USER answered by 230 needs no password", nullptr, nullptr, {{"USER ", "230 No password needed"}},
       {"USER bob"}, {"Connected", "CommandDone 0 Connect No password needed"}},
      {"pre-commands get no automatic PASS; the user's log-in gets PASS and ACCT",
       [](F& f) { f.setAccount("acct1"), f.setPreCommand("USER fw\r\nPASS fwpass\r\nEXPC now\r\n"); }, nullptr,
       {{"USER fw", "331 firewall password"}, {"PASS fwpass", "230 through the firewall"}, {"EXPC now", "200 ok"},
        {"USER bob", "331 Password"}, {"PASS secret", "332 Account"}, {"ACCT acct1", "230 ok"}},
       {"USER fw", "PASS fwpass", "EXPC now", "USER bob", "PASS secret", "ACCT acct1"},
       {"Connected", "CommandDone 0 Connect ok"},
       {"Connect>>USER fw", "Connect>>PASS ***", "Connect>>EXPC now", "Connect>>PASS ***"}},
      {"Cd sends PWD after CWD", nullptr, [](F& f, R&) { f.Cd("x"); },
       {{"CWD ", "250 CWD ok"}, {"PWD", "257 \"/x\" is current"}}, {"CWD x", "PWD"},
       {"CommandDone 0 Cd \"/x\" is current"}},
      {"Cd without PWD", [](F& f) { f.setNoPwdAfterCd(true); }, [](F& f, R&) { f.Cd("y"); },
       {{"CWD ", "250 CWD ok"}}, {"CWD y"}, {"CommandDone 0 Cd CWD ok"}},
      {"Rename sends RNTO after 350", nullptr, [](F& f, R&) { f.Rename("a", "b"); },
       {{"RNFR ", "350 Ready"}, {"RNTO ", "250 Renamed"}}, {"RNFR a", "RNTO b"}, {"CommandDone 0 Rename Renamed"}},
      {"a refused RNFR ends Rename, still connected", nullptr, [](F& f, R&) { f.Rename("missing", "c"); },
       {{"RNFR ", "550 No such file"}}, {"RNFR missing"}, {"CommandDone 550 Rename No such file"}},
      {"an unparsable PASV reply ends the operation", passive, [](F& f, R&) { f.GetFile("f", "local"); },
       {{"PASV", "227 Entering Passive Mode 127,0,0,1,4,1"}}, {"TYPE I", "PASV"},
       {"CommandDone -1 GetFile Entering Passive Mode 127,0,0,1,4,1"}},
      {"download: 226 before the close; REST once, then Rest is -1", [](F& f) { f.setPassive(true), f.setRest(5); },
       [](F& f, R&) { f.GetFile("f.bin", "/tmp/f.bin"); },
       {{"REST ", "350 Restarting"}, {"PASV", "<pasv>"},
        {"RETR ", "<up>|150 Opening|<data:hello >|<data:world>|226 Done|<settle>|<close>"}},
       {"TYPE I", "REST 5", "PASV", "RETR f.bin"}, {"GetOpen /tmp/f.bin", "GetClose", "CommandDone 0 GetFile Done"},
       {}, "hello world"},
      {"download: the close before 226", passive, [](F& f, R&) { f.GetFile("g.bin", "g"); },
       {{"PASV", "<pasv>"}, {"RETR ", "<up>|150 Opening|<data:hello world>|<close>|<until:GetClose>|226 Done"}},
       {"TYPE I", "PASV", "RETR g.bin"}, {"GetOpen g", "GetClose", "CommandDone 0 GetFile Done"}, {}, "hello world"},
      {"a zero-byte upload shuts the data connection at once", passive,
       [](F& f, R& r) { f.PutFile("empty", r.feed({})); }, {{"PASV", "<pasv>"}, {"STOR ", stored}},
       {"TYPE I", "PASV", "STOR empty"}, {"PutClose", "CommandDone 0 PutFile Stored"}, {"Tcpip3_start"}, {},
       QByteArray()},
      {"an upload in blocks", passive, [](F& f, R& r) { f.PutFile("data.bin", r.feed(pattern())); },
       {{"PASV", "<pasv>"}, {"STOR ", stored}}, {"TYPE I", "PASV", "STOR data.bin"},
       {"PutClose", "CommandDone 0 PutFile Stored"}, {}, {}, pattern()},
      {"a failure reply during an upload still raises PutClose first", passive,
       [](F& f, R& r) {
         r.putData = [] { return QByteArray(8192, 'x'); };  // never ends by itself
         f.PutFile("full.bin", r.source());
       },
       {{"PASV", "<pasv>"}, {"STOR ", "<up>|552 Disk full"}}, {"TYPE I", "PASV", "STOR full.bin"},
       {"PutClose", "CommandDone 552 PutFile Disk full"}},
      {"active: the server connects at PORT; a last listing line without CR LF", nullptr,
       [](F& f, R&) { f.Dir(""); },
       {{"PORT ", "<connect>|<until:Tcpip3_Connected>|200 PORT ok"},
        {"LIST", "<up>|150 Here it comes|<data:a.txt\r\nb>|<data:.txt\r\nlast>|<close>|226 Listed"}},
       {"TYPE A", "PORT 127,0,0,1,*", "LIST"},
       {"DirOpen", "DirData a.txt", "DirData b.txt", "DirData last", "DirClose", "CommandDone 0 Dir Listed"}},
      {"Ls with an argument, whatever Filetype", [](F& f) { f.setPassive(true), f.setFiletype(""); },
       [](F& f, R&) { f.Ls("sub"); }, {{"PASV", "<pasv>"}, {"NLST", "<up>|150 ok|<close>|226 Listed"}},
       {"TYPE A", "PASV", "NLST sub"}, {"DirOpen", "DirClose", "CommandDone 0 Ls Listed"}},
      {"a data connection error is a TransError", passive, [](F& f, R&) { f.Dir(""); },
       {{"PASV", "<dead-pasv>"}, {"LIST", "<until:TransError>|425 Can't open data connection"}},
       {"TYPE A", "PASV", "LIST"}, {"TransError 100*", "CommandDone 425 Dir Can't open data connection"}},
      {"... or a message when TransErrorEvent is false", [](F& f) { f.setPassive(true), f.setTransErrorEvent(false); },
       [](F& f, R&) { f.Dir(""); },
       {{"PASV", "<dead-pasv>"}, {"LIST", "<until:Message>|425 Can't open data connection"}},
       {"TYPE A", "PASV", "LIST"}, {"Message Tcpip3_WsError *", "CommandDone 425 Dir Can't open data connection"}},
      {"Shift-JIS command channel: names out, replies and listings in",
       [](F& f) { f.setSysCode("SJIS"), f.setPassive(true); }, [](F& f, R&) { f.Dir(QString::fromUtf8("日本語")); },
       {{"PASV", "<pasv>"}, {"LIST", "<up>|150 go|<data:" + sjis("日本語.txt\r\n") + ">|<close>|226 " + sjis("完了")}},
       {"TYPE A", "PASV", QString::fromLatin1(sjis("LIST 日本語"))},
       {"DirOpen", QString::fromUtf8("DirData 日本語.txt"), "DirClose", QString::fromUtf8("CommandDone 0 Dir 完了")}},
      {"UTF-8 command channel: names and replies pass unconverted", [](F& f) { f.setSysCode("UTF8"); },
       [](F& f, R&) { f.MkDir(QString::fromUtf8("和食器")); }, {{"MKD ", "257 \"/和食器\" created"}},
       {QString::fromLatin1(QByteArray("MKD 和食器"))}, {QString::fromUtf8("CommandDone 0 MkDir \"/和食器\" created")}},
      {"EUC file data: a character cut between blocks", [](F& f) { f.setPassive(true), f.setFileCode("EUC"); },
       [](F& f, R&) { f.GetFile("x", "x"); },
       {{"PASV", "<pasv>"},
        {"RETR", "<up>|150 go|<data:" + euc.left(3) + ">|<settle>|<data:" + euc.mid(3) + ">|<close>|226 ok"}},
       {"TYPE I", "PASV", "RETR x"}, {"GetOpen x", "GetClose", "CommandDone 0 GetFile ok"}, {}, "漢字テキスト"},
      {"JIS upload: blocks cut inside characters, shift state closed at the end",
       [](F& f) { f.setPassive(true), f.setFileCode("JIS"); }, [](F& f, R& r) { f.PutFile("j.txt", r.feed("日本a", 4)); },
       {{"PASV", "<pasv>"}, {"STOR ", stored}}, {"TYPE I", "PASV", "STOR j.txt"},
       {"PutClose", "CommandDone 0 PutFile Stored"}, {}, {}, QByteArray("\x1b$BF|K\\\x1b(Ba")},
  };
}

TEST_F(FtpScripted, Conversations) {
  for (const Conversation& c : conversations()) {
    SCOPED_TRACE(c.name);
    fresh();
    if (c.setup) c.setup(*ftp);
    for (const auto& [key, script] : c.replies)
      if (key.isEmpty()) server->greeting = script;
    if (c.operation) {
      login();
      if (HasFatalFailure()) return;
      answer(c.replies);
      c.operation(*ftp, rec);
    } else {
      answer(c.replies);
      connect();
    }
    ASSERT_TRUE(waitDone(1)) << rec.traces.join('\n').toStdString();
    settle(30);
    EXPECT_PRED2(matches, server->lines, c.wire);
    EXPECT_PRED2(matches, rec.events, c.events);
    for (const QString& t : c.traces) EXPECT_TRUE(rec.traces.contains(t)) << t.toStdString();
    EXPECT_EQ(rec.got, c.got);
    if (c.stored) {
      EXPECT_EQ(server->dataIn, *c.stored);
    }
    EXPECT_FALSE(rec.traces.join('\n').contains("secret") || rec.traces.join('\n').contains("fwpass"));
    EXPECT_EQ(ftp->rest(), quill::kNoRest);
    EXPECT_TRUE(ftp->IsIdle());
    EXPECT_EQ(ftp->state(), "DONE");
    EXPECT_TRUE(ftp->controlSocket().isConnected());
  }
}

TEST_F(FtpScripted, RefusedCallsRaiseTheirErrorAndSendNothing) {
  auto error = [](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const AutomationError& e) {
      return std::to_string(e.number()) + " " + e.source() + ": " + e.description();
    }
    return "none";
  };
  EXPECT_EQ(error([&] { ftp->Cd("x"); }), "17 Cd: Not Idling");
  EXPECT_EQ(error([&] { ftp->DisConnect(); }), "none");  // nothing to disconnect
  ftp->setPort("not a port");
  EXPECT_EQ(error([&] { ftp->Connect("127.0.0.1", "u", "p"); }),
            "10022 connect: Invalid address or port: 127.0.0.1:not a port");
  EXPECT_EQ(ftp->state(), "");

  // A refused connection ends with DisConnected carrying the socket's error.
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  ftp->setPort(QString::number(probe.serverPort()));
  probe.close();
  ftp->Connect("127.0.0.1", "u", "p");
  ASSERT_TRUE(waitUntil([&] { return !rec.events.isEmpty(); }));
  EXPECT_PRED2(matches, rec.events, QStringList({"DisConnected 1*"}));
  EXPECT_TRUE(rec.events[0].endsWith("(connect)"));
  EXPECT_EQ(ftp->state(), "");

  fresh();
  login();
  const std::pair<std::function<void()>, std::string> refused[] = {
      {[&] { connect(); }, "59 Connect: AlreadyConnected"},
      // Line breaks inside an argument would smuggle in a second command.
      {[&] { ftp->MkDir("a\r\nDELE important"); }, "54 MkDir: Invalid character (CR or LF) in argument"},
      {[&] { ftp->Quote("NOOP\nDELE x"); }, "54 Quote: Invalid character (CR or LF) in argument"},
      {[&] { ftp->Rename("a", "b\rc"); }, "54 Rename: Invalid character (CR or LF) in argument"},
      {[&] { ftp->setAccount("a\r\nb"); }, "54 Account: Invalid character (CR or LF) in argument"},
  };
  for (const auto& [call, expected] : refused) EXPECT_EQ(error(call), expected);
  settle(50);
  EXPECT_TRUE(server->lines.isEmpty());
  EXPECT_TRUE(ftp->IsIdle());

  server->onLine = [](const QString&) {};  // NOOP never answered: stays busy
  ftp->Noop();
  EXPECT_EQ(error([&] { ftp->Pwd(); }), "17 Pwd: Not Idling");
  EXPECT_EQ(error([&] { ftp->DisConnect(); }), "17 DisConnect: Not Idling");
}

TEST_F(FtpScripted, PropertyRulesAndPersistence) {
  EXPECT_EQ(QStringList({ftp->port(), ftp->filetype(), ftp->fileCode(), ftp->sysCode(), ftp->state()}),
            QStringList({"21", "I", "BIN", "EUC", ""}));
  EXPECT_EQ(ftp->rest(), -1);
  EXPECT_TRUE(ftp->transErrorEvent());
  EXPECT_FALSE(ftp->IsIdle());

  auto set = [&](const QString& property, const QString& v) -> QString {
    try {
      if (property == "Filetype") return ftp->setFiletype(v), ftp->filetype();
      if (property == "FileCode") return ftp->setFileCode(v), ftp->fileCode();
      if (property == "Security") return ftp->setSecurity(v), ftp->security();
      return ftp->setSysCode(v), ftp->sysCode();
    } catch (const AutomationError& e) {
      return QString::fromStdString(std::to_string(e.number()) + " " + e.source() + ": " + e.description());
    }
  };
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Filetype", "ascii", "A"},  {"Filetype", "binary", "I"},   {"Filetype", "", ""},
      {"Filetype", "x", "54 FileType: Invalid File Type"},
      {"FileCode", "none", "BIN"}, {"FileCode", "jis", "JIS"},    {"FileCode", "ansi", "SJIS"},
      {"FileCode", "Euc", "EUC"},  {"FileCode", "utf8", "54 FileCode: Invalid File Kanji Code"},
      {"SysCode", "sjis", "SJIS"}, {"SysCode", "utf-8", "UTF8"},
      {"SysCode", "jis", "54 SysCode: Invalid System Kanji Code"},
      {"Security", " Explicit ", "explicit"}, {"Security", "IMPLICIT", "implicit"}, {"Security", "", ""},
      {"Security", "ssl", "54 Security: Invalid Security (\"\", \"explicit\" or \"implicit\")"},
  };
  for (const auto& [property, in, out] : cases) EXPECT_EQ(set(property, in), out) << property << " " << in;

  FtpControl::PropertyBag bag;
  ftp->setPassive(true);
  ftp->setPort("2121");
  ftp->writeProperties(bag);
  EXPECT_EQ(bag.keys(), (std::vector<std::string>{"NoPwdAfterCd", "PreCommand", "Passive", "Type", "SysCode",
                                                  "FileCode", "Account", "Port", "TransErrorEvent"}));
  FtpControl copy;
  copy.readProperties(bag);
  EXPECT_TRUE(copy.passive());
  // The TLS settings are saved only when set, and come back.
  ftp->setSecurity("implicit");
  ftp->setTlsFingerprint("aa:BB");
  FtpControl::PropertyBag tlsBag;
  ftp->writeProperties(tlsBag);
  FtpControl tlsCopy;
  tlsCopy.readProperties(tlsBag);
  EXPECT_EQ(tlsCopy.security() + " " + tlsCopy.tlsFingerprint(), "implicit aa:BB");
  EXPECT_TRUE(quill::fingerprintMatches("aabb", "AA:BB") && !quill::fingerprintMatches("", ""));
  EXPECT_EQ(QStringList({copy.port(), copy.sysCode()}), QStringList({"2121", "UTF8"}));
  EXPECT_TRUE(copy.transErrorEvent());
  FtpControl fromEmpty;
  fromEmpty.readProperties({});
  EXPECT_FALSE(fromEmpty.transErrorEvent());  // a saved form without the key
  EXPECT_EQ(QStringList({fromEmpty.filetype(), fromEmpty.port()}), QStringList({"I", "21"}));

  // A value the control refuses changes nothing and says which.
  for (auto [key, value, expected] : {std::tuple{"Type", quill::Variant("x"), "54 FileType"},
                                      {"Port", quill::Variant(quill::Null{}), "94 Port"}}) {
    FtpControl::PropertyBag bad = bag;
    bad.set("Passive", false);
    bad.set(key, value);
    try {
      copy.readProperties(bad);
      ADD_FAILURE() << key << " accepted";
    } catch (const AutomationError& e) {
      EXPECT_EQ(std::to_string(e.number()) + " " + e.source(), expected);
    }
    EXPECT_TRUE(copy.passive());
  }

  const std::pair<const char*, const char*> replies[] = {
      {"227 Entering Passive Mode (192,168,0,10,4,1)", "192.168.0.10:1025"},
      {"227 Entering Passive Mode 127,0,0,1,4,1", ""},
      {"227 (127,0,0,1,4)", ""},
      {"227 (127,0,0,1,four,1)", ""},
  };
  for (const auto& [line, address] : replies) {
    const auto a = FtpControl::parsePasvReply(line);
    EXPECT_EQ(a ? a->host + ":" + a->port : QString(), address) << line;
  }
}

// The two replies to ABOR end the operation with the first one's code, also
// when the transfer's final reply came before the abort; a second Abort
// while one is pending is ignored.
TEST_F(FtpScripted, AbortSendsInterruptOnceAndEndsOnTheSecondReply) {
  for (const auto& [first, retr] : {std::pair{"426 Transfer aborted", "<up>|150 Opening|<data:partial>"},
                                    {"225 Nothing to abort", "<up>|150 Opening|<data:partial>|226 Done"}}) {
    SCOPED_TRACE(first);
    fresh();
    ftp->setPassive(true);
    login();
    answer({{"PASV", "<pasv>"}, {"RETR ", retr}});
    ftp->GetFile("big", "big");
    ASSERT_TRUE(waitUntil([&] { return rec.got == "partial"; }));
    settle(50);
    ftp->Abort();
    ftp->Abort();
    ASSERT_TRUE(waitUntil([&] { return server->lines.last().endsWith("ABOR"); }));
    // IAC IP IAC (urgent), then DM and ABOR: once.
    EXPECT_EQ(server->lines.last(), QString::fromLatin1("\xff\xf4\xff\xf2" "ABOR"));
    EXPECT_TRUE(rec.traces.contains("GetFile>>ABOR"));
    server->play(first);
    settle(100);
    ftp->Abort();
    settle(100);
    EXPECT_EQ(rec.done, 0) << "the first of the two replies does not end the abort";
    server->play("226 ABOR ok");
    ASSERT_TRUE(waitDone(1));
    const QString code = QByteArray(first).startsWith("426") ? "426" : "0";
    EXPECT_EQ(rec.events, QStringList({"GetOpen big", "GetClose", "CommandDone " + code + " GetFile " + (first + 4)}));
    EXPECT_EQ(server->lines.filter("ABOR").size(), 1);
    EXPECT_TRUE(ftp->IsIdle());
  }
}

// A reply line may be kLongest bytes long, its CR LF arriving with it or
// later; one byte more closes the connection (an open transfer is closed
// first). Listing lines longer than that go out in pieces.
TEST_F(FtpScripted, LinesAreBoundedAtTheLongestReplyLine) {
  const QByteArray longest = "200 " + QByteArray(kMaxReplyLine - 4, 'x');
  const QString tooLong =
      QStringLiteral("DisConnected %1 Reply line longer than 65536 bytes; connection closed").arg(quill::kFtpReplyTooLong);
  const std::tuple<const char*, QList<QByteArray>, bool> replies[] = {
      {"CR LF later", {longest, "\r\n"}, true},
      {"LF later", {longest + "\r", "\n"}, true},
      {"one byte more", {longest + "x", "\r\n"}, false},
  };
  for (const auto& [name, blocks, accepted] : replies) {
    SCOPED_TRACE(name);
    fresh();
    login();
    server->onLine = [](const QString&) {};
    ftp->Noop();
    for (const QByteArray& b : blocks) server->send(b), settle(30);
    ASSERT_TRUE(waitUntil([&] { return !rec.events.isEmpty(); }));
    if (accepted) {
      EXPECT_EQ(rec.lastMsg.size(), kMaxReplyLine - 4);
      EXPECT_TRUE(ftp->controlSocket().isConnected());
    } else {
      EXPECT_EQ(rec.events, QStringList({tooLong}));
      EXPECT_EQ(ftp->state(), "");
    }
  }

  fresh();
  ftp->setPassive(true);
  login();
  answer({{"PASV", "<pasv>"},
          {"LIST", "<up>|<data:" + QByteArray(kMaxReplyLine + 10, 'y') + ">|<settle>|<data:\r\n" +
                       QByteArray(kMaxReplyLine, 'z') + "\r>|<settle>|<data:\n>|<settle>|<raw:" +
                       QByteArray(70 * 1024, 'x') + ">"}});
  ftp->Dir("");
  ASSERT_TRUE(waitUntil([&] { return rec.events.size() == 6; }));
  EXPECT_EQ(rec.events.mid(4), QStringList({"DirClose", tooLong}));
  EXPECT_EQ(rec.done, 0);
  QList<qsizetype> sizes;
  for (const QString& l : rec.dirLines) sizes << l.size();
  EXPECT_EQ(sizes, QList<qsizetype>({kMaxReplyLine, 10, kMaxReplyLine}));
}

// The connect timeout ends a connection whose server never greets, and only
// that: a server that greets in time keeps its connection past it.
TEST_F(FtpScripted, ConnectTimeoutEndsOnlyASilentConnection) {
  QTcpServer silent;  // accepts and says nothing, as a web server would
  silent.listen(QHostAddress::LocalHost, 0);
  ftp->setConnectTimeout(300);
  ftp->setPort(QString::number(silent.serverPort()));
  ftp->Connect("127.0.0.1", "bob", "secret");
  ASSERT_TRUE(waitUntil([&] { return !rec.events.isEmpty() && rec.events.last().startsWith("Dis"); }, 3000));
  EXPECT_EQ(rec.events.last(), QStringLiteral("DisConnected %1 No answer from the server within 0.3 seconds(connect)")
                                   .arg(quill::kFtpNoGreeting));
  EXPECT_EQ(ftp->state(), "");

  fresh();
  ftp->setConnectTimeout(300);
  login();
  settle(500);
  EXPECT_TRUE(rec.events.isEmpty()) << rec.events.join('\n').toStdString();
  EXPECT_TRUE(ftp->IsIdle());
}

TEST_F(FtpScripted, ServerCloseDisconnectsAndLabelFollows) {
  quill::FtpWidget widget(nullptr, ftp.get());
  auto* label = widget.findChild<QLabel*>("Label1");
  ASSERT_NE(label, nullptr);
  login();
  EXPECT_TRUE(label->text().startsWith("Received 230 Logged in")) << label->text().toStdString();
  ftp->DisConnect();
  ASSERT_TRUE(waitUntil([&] { return rec.events.size() == 2; }));
  EXPECT_EQ(rec.events, QStringList({"CommandDone 0 DisConnect Bye", "DisConnected 0 "}));
  EXPECT_EQ(label->text(), "Closed");
  EXPECT_EQ(ftp->state(), "");
  ScriptedServer again;
  again.onLine = [&](const QString&) { again.play("230 ok"); };
  ftp->setPort(again.port());
  ftp->Connect("127.0.0.1", "bob", "x");  // no "AlreadyConnected" after the close
  ASSERT_TRUE(waitDone(2));
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
