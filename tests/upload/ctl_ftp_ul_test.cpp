// The upload queue: its queueing and transfer-type rules on their own, and
// whole runs against the test server started on a free loopback port.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <filesystem>
#include <memory>

#include "common/automation_error.h"
#include "generator/upload/ctl_ftp_ul.h"
#include "upload_test_support.h"

using namespace uploadtest;
using quill::CtlFtpUL;

namespace {

void ensureApp() {
  static int argc = 1;
  static char name[] = "upload_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

// Records what a queue raises, as readable lines.
struct Recorder {
  QStringList events;
  std::optional<QString> finish;
  QStringList traces;
  std::function<void(qint64)> onSize;

  void attach(CtlFtpUL& q) {
    QObject::connect(&q, &CtlFtpUL::FileUploadStart,
                     [this](const QString& p) { events << "Start " + QFileInfo(p).fileName(); });
    QObject::connect(&q, &CtlFtpUL::FileUploadSize, [this](qint64 n) {
      events << QStringLiteral("Size %1").arg(n);
      if (onSize) onSize(n);
    });
    QObject::connect(&q, &CtlFtpUL::FileUploadEnd, [this] { events << "End"; });
    QObject::connect(&q, &CtlFtpUL::Finish, [this](const QString& e) { finish = e; });
    QObject::connect(&q, &CtlFtpUL::Trace, [this](const QString& t) { traces << t; });
  }
};

class UploadQueue : public ::testing::Test {
 protected:
  UploadQueue() {
    ensureApp();
    local = dir.path() + "/Output";
    remote = dir.path() + "/remote";
    QDir().mkpath(local);
    QDir().mkpath(remote);
    queue = std::make_unique<CtlFtpUL>();
    rec.attach(*queue);
  }
  void pointAt(const TestFtpd& server, const QString& password = "pw") {
    ASSERT_FALSE(server.port().isEmpty());
    queue->setRemoteHost("127.0.0.1");
    queue->setUsername("user");
    queue->setPassword(password);
    queue->setPort(server.port());
    queue->setPassive(true);
  }
  // Queues the local tree for /site and runs it to its Finish.
  QString publish() {
    queue->AddUploadItem(local, "/site");
    queue->BeginUpload();
    if (!waitUntil([&] { return rec.finish.has_value(); }, 30000)) {
      ADD_FAILURE() << "no Finish";
      return "<none>";
    }
    return *rec.finish;
  }
  QString stored(const QString& rel) const { return QString::fromUtf8(readFile(remote + "/site/" + rel)); }

  QTemporaryDir dir;
  QString local;
  QString remote;
  std::unique_ptr<CtlFtpUL> queue;
  Recorder rec;
};

// The folder queue lists every folder before its subfolders; the file queue
// has the files of the deeper folders first. A link back up is left out.
TEST_F(UploadQueue, QueuesFoldersFirstAndTheDeepestFilesFirst) {
  for (const char* f : {"a.htm", ".htaccess", "sub/b.htm", "sub/deep/c.bin", "other/d.css"}) writeFile(local + "/" + f, "x");
  QDir().mkpath(local + "/empty");
  std::filesystem::create_directory_symlink(local.toStdString(), (local + "/sub/up").toStdString());
  queue->AddUploadItem(local, "/site");
  queue->AddUploadItem(local + "/missing", "/nothing");  // adds nothing
  queue->AddUploadItem(local + "/a.htm", "/single.htm");

  const auto& folders = queue->folderQueue();
  ASSERT_EQ(folders.front(), "/site");
  for (size_t i = 0; i < folders.size(); ++i) {
    const QString parent = folders[i].section('/', 0, -2);
    if (i == 0) continue;
    EXPECT_NE(std::find(folders.begin(), folders.begin() + i, parent), folders.begin() + i) << folders[i].toStdString();
  }
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "/site/sub/up"), 0);  // a link back up is not followed
  EXPECT_EQ(folders.size(), 5u);

  QStringList remotes;
  for (const auto& item : queue->fileQueue()) remotes << item.remotePath;
  EXPECT_EQ(remotes.size(), 6);
  EXPECT_LT(remotes.indexOf("/site/sub/deep/c.bin"), remotes.indexOf("/site/sub/b.htm"));
  EXPECT_LT(remotes.indexOf("/site/sub/b.htm"), remotes.indexOf("/site/a.htm"));
  EXPECT_LT(remotes.indexOf("/site/other/d.css"), remotes.indexOf("/site/.htaccess"));
  EXPECT_EQ(remotes.last(), "/single.htm");
  EXPECT_EQ(queue->fileQueue().back().localPath, local + "/a.htm");
}

TEST_F(UploadQueue, TextExtensionsAreMatchedExactlyAsWritten) {
  EXPECT_EQ(queue->textExt(), "asp;htm;html;txt;cgi;csv;php;pl");
  const std::pair<const char*, const char*> types[] = {
      {"Detail_1.htm", "A"}, {"Detail_1.HTM", "I"}, {"README", "I"},  {"/x/page.html", "A"},
      {"a.tar.gz", "I"},     {"/d.txt/README", "I"}, {"file.", "I"}, {"style.css", "I"},
  };
  for (const auto& [path, type] : types) EXPECT_EQ(queue->transferType(path), type) << path;

  queue->setTextExt("htm;HTM;htm; css;");
  EXPECT_EQ(queue->textExt(), "htm;HTM; css;");  // repeats collapse; blanks and the empty piece stay
  EXPECT_EQ(queue->transferType("a.HTM"), "A");
  EXPECT_EQ(queue->transferType("a.css"), "I");
  EXPECT_EQ(queue->transferType("a. css"), "A");
  EXPECT_EQ(queue->transferType("file."), "A");
}

// A tree with nested folders, an empty folder, a zero-byte file, text and
// binary files and a Japanese name, into a remote tree of which one folder
// exists already.
TEST_F(UploadQueue, PublishesATreeAsThePagesLinkIt) {
  const QByteArray text = "line1\r\nline2\r\n";
  const QByteArray japanese = QString::fromUtf8("<p>和食器</p>\r\n").toUtf8();
  const QByteArray picture = binaryBytes(50000);
  writeFile(local + "/Index.htm", text);
  writeFile(local + "/Detail_1.HTM", text);
  writeFile(local + "/README", picture.left(3000));
  writeFile(local + QString::fromUtf8("/和食器.htm"), japanese);
  writeFile(local + "/img/logo.gif", picture);
  writeFile(local + "/img/empty.gif", "");
  writeFile(local + "/img/deep/notes.txt", text);
  QDir().mkpath(local + "/blank");
  QDir().mkpath(remote + "/site/img");  // answered 550: exists
  TestFtpd server(remote);
  pointAt(server);

  queue->AddUploadItem(local, "/site");
  queue->BeginUpload();
  EXPECT_TRUE(queue->busy());
  try {
    queue->BeginUpload();
    ADD_FAILURE() << "a second BeginUpload was accepted";
  } catch (const quill::AutomationError& e) {
    EXPECT_EQ(std::to_string(e.number()) + " " + e.source() + ": " + e.description(),
              "10002 CtlFtpUl.BeginUpload: It is busy in transfer data.");
  }
  ASSERT_TRUE(waitUntil([&] { return rec.finish.has_value(); }, 30000));
  EXPECT_EQ(*rec.finish, "");
  EXPECT_FALSE(queue->busy());
  EXPECT_TRUE(queue->fileQueue().empty());

  // Text arrives with the server's line ends, everything else byte for byte.
  EXPECT_EQ(readFile(remote + "/site/Index.htm"), "line1\nline2\n");
  EXPECT_EQ(readFile(remote + "/site/img/deep/notes.txt"), "line1\nline2\n");
  EXPECT_EQ(readFile(remote + "/site/Detail_1.HTM"), text);
  EXPECT_EQ(readFile(remote + "/site/README"), picture.left(3000));
  EXPECT_EQ(readFile(remote + "/site/img/logo.gif"), picture);
  EXPECT_EQ(readFile(remote + "/site/img/empty.gif"), "");
  EXPECT_EQ(readFile(remote + QString::fromUtf8("/site/和食器.htm")), "<p>和食器</p>\n");  // named in UTF-8
  EXPECT_TRUE(QFileInfo(remote + "/site/blank").isDir());
  const auto types = server.typeOfEachStore();
  EXPECT_EQ(types.at("/site/Index.htm"), "A");
  EXPECT_EQ(types.at("/site/Detail_1.HTM"), "I");
  EXPECT_EQ(types.at("/site/README"), "I");
  EXPECT_EQ(types.size(), 7u);

  // One connection per phase; each file starts, grows in blocks of at most
  // 8192 bytes and ends; the zero-byte file has no size at all.
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 2; }));
  EXPECT_EQ(server.commands().filter(QRegularExpression("^USER ")).size(), 2);
  EXPECT_EQ(rec.events.filter(QRegularExpression("^Start ")).size(), 7);
  EXPECT_EQ(rec.events.filter("End").size(), 7);
  const qsizetype empty = rec.events.indexOf("Start empty.gif");
  EXPECT_EQ(rec.events[empty + 1], "End");
  qint64 last = 0;
  for (const QString& e : rec.events) {
    if (e.startsWith("Start ")) last = 0;
    if (!e.startsWith("Size ")) continue;
    const qint64 n = e.mid(5).toLongLong();
    EXPECT_GT(n, last);
    EXPECT_LE(n - last, CtlFtpUL::kBlockSize);
    last = n;
  }
  EXPECT_TRUE(rec.traces.contains("Connect>>PASS ***"));
  EXPECT_FALSE(rec.traces.join('\n').contains("PASS pw"));
}

// Each failure stops the run where it should and says what failed and where.
TEST_F(UploadQueue, FailuresSayWhatFailedAndStopWhereTheyShould) {
  struct Case {
    const char* name;
    QStringList serverOptions;
    QString password = "pw";
    QString removeAfterQueueing = {};  // a local file that goes away before its turn
    QString expected;     // the error text, with PORT for the server's port
    int sessions = 1;     // connections the server saw
    int filesStored = 0;  // STOR commands the server received
  };
  const Case cases[] = {
      {"a remote folder that cannot be created: no file is sent",
       {"--refuse-mkd", "img"}, "pw", {},
       "Cannot create the remote folder \"/site/img\": Cannot create img here."},
      {"a wrong password", {}, "wrong", {}, "Authentication failed."},
      {"a local file that cannot be opened: later files are not sent", {}, "pw",
       "img/logo.gif",
       "Sending \"LOCAL/img/logo.gif\" to \"/site/img/logo.gif\" failed: cannot open the local file: "
       "No such file or directory",
       2},
      {"the server drops the connection in the middle of a file", {"--drop-after", "100000"}, "pw", {},
       "Sending \"LOCAL/big.bin\" to \"/site/big.bin\" failed: The connection to 127.0.0.1:PORT was lost: "
       "the server closed the connection",
       2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    queue = std::make_unique<CtlFtpUL>();
    rec = Recorder{};
    rec.attach(*queue);
    QDir(remote).removeRecursively();
    QDir().mkpath(remote);
    writeFile(local + "/big.bin", binaryBytes(600000));
    writeFile(local + "/img/logo.gif", binaryBytes(100));
    TestFtpd server(remote, c.serverOptions);
    pointAt(server, c.password);
    queue->AddUploadItem(local, "/site");
    ASSERT_EQ(queue->fileQueue().back().remotePath, "/site/big.bin");  // the subfolder's file first
    if (!c.removeAfterQueueing.isEmpty()) QFile::remove(local + "/" + c.removeAfterQueueing);
    queue->BeginUpload();
    ASSERT_TRUE(waitUntil([&] { return rec.finish.has_value(); }, 30000));
    QString expected = c.expected;
    expected.replace("PORT", server.port()).replace("LOCAL", local);
    EXPECT_EQ(*rec.finish, expected);
    EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == c.sessions; }));
    EXPECT_EQ(server.commands().filter(QRegularExpression("^STOR ")).size(), c.filesStored);
    EXPECT_FALSE(queue->busy());
  }
}

TEST_F(UploadQueue, AnUnreachableServerFailsAtOnce) {
  QTcpServer probe;  // a free port, closed again
  probe.listen(QHostAddress::LocalHost, 0);
  const QString port = QString::number(probe.serverPort());
  probe.close();
  writeFile(local + "/a.htm", "x");
  queue->setRemoteHost("127.0.0.1");
  queue->setPort(port);
  QElapsedTimer clock;
  clock.start();
  const QString error = publish();
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(error.startsWith("Cannot connect to 127.0.0.1:" + port + ": Connection refused")) << error.toStdString();
}

// A file that ends before the size it had when it was opened arrives short:
// the run goes on and the error text names it.
TEST_F(UploadQueue, AShortFileIsNamedAndTheRunGoesOn) {
  writeFile(local + "/a/big.bin", binaryBytes(100000));
  writeFile(local + "/b/small.htm", "small");
  TestFtpd server(remote);
  pointAt(server);
  rec.onSize = [&](qint64) {
    if (!rec.events.contains("Start big.bin")) return;
    QFile::resize(local + "/a/big.bin", 20000);  // cut while it is read
  };
  const QString error = publish();
  EXPECT_TRUE(error.startsWith(QStringLiteral("\"/site/a/big.bin\" is short on the server: ")));
  EXPECT_TRUE(error.contains(" of the 100000 bytes of \"" + local + "/a/big.bin\" were read (the file ended early)"))
      << error.toStdString();
  EXPECT_EQ(stored("b/small.htm"), "small");
  EXPECT_LT(readFile(remote + "/site/a/big.bin").size(), 100000);
}

// An empty folder: its remote folder is made, no file connection follows. A
// path that names nothing: Finish at once, no connection at all.
TEST_F(UploadQueue, EmptyFolderAndMissingPath) {
  TestFtpd server(remote);
  pointAt(server);
  EXPECT_EQ(publish(), "");
  EXPECT_TRUE(QFileInfo(remote + "/site").isDir());
  ASSERT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 1; }));
  EXPECT_EQ(server.commands().filter(QRegularExpression("^(USER|PASV|STOR) ")).size(), 1);

  rec.finish.reset();
  queue->AddUploadItem(local + "/missing", "/gone");
  queue->BeginUpload();
  ASSERT_TRUE(rec.finish.has_value());
  EXPECT_EQ(*rec.finish, "");
  waitUntil([] { return false; }, 200);
  EXPECT_EQ(server.events("DISCONNECT").size(), 1);
}

// Destroying the queue in the middle of a file closes the file and drops
// both connections; no Finish comes.
TEST_F(UploadQueue, DestroyingItMidFileClosesTheFileAndDropsTheConnection) {
  writeFile(local + "/big.bin", binaryBytes(2000000));
  TestFtpd server(remote, {"--throttle", "200000"});
  pointAt(server);
  queue->AddUploadItem(local, "/site");
  queue->BeginUpload();
  ASSERT_TRUE(waitUntil([&] { return rec.events.contains("Size 65536"); }, 20000));
  auto fileIsOpen = [&] {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
      if (std::filesystem::read_symlink(fd.path(), ec).string() == (local + "/big.bin").toStdString()) return true;
    return false;
  };
  EXPECT_TRUE(fileIsOpen());
  queue.reset();
  EXPECT_FALSE(fileIsOpen());
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 2; }, 5000));
  waitUntil([] { return false; }, 200);
  EXPECT_FALSE(rec.finish.has_value());
}

}  // namespace
