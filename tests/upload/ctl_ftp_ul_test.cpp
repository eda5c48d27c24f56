// The upload queue: its queueing and transfer-type rules on their own, and
// whole runs against the test server started on a free loopback port.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/automation_error.h"
#include "generator/upload/ctl_ftp_ul.h"
#include "upload_test_support.h"

using namespace uploadtest;
using quill::CtlFtpUL;

namespace {

class UploadQueue : public ::testing::Test {
 protected:
  UploadQueue() {
    ensureApp<QCoreApplication>();
    QDir().mkpath(local);
    QDir().mkpath(remote);
    fresh();
  }
  // A new queue; its signals are recorded as lines.
  void fresh() {
    queue = std::make_unique<CtlFtpUL>();
    queue->setRetryWaits({20, 40});
    events.clear();
    finish.reset();
    QObject::connect(queue.get(), &CtlFtpUL::FileUploadStart,
                     [this](const QString& p) { events << "Start " + QFileInfo(p).fileName(); });
    QObject::connect(queue.get(), &CtlFtpUL::FileUploadSize, [this](qint64 n) {
      events << QStringLiteral("Size %1").arg(n);
      if (onSize) onSize();
    });
    QObject::connect(queue.get(), &CtlFtpUL::FileUploadEnd, [this] { events << "End"; });
    QObject::connect(queue.get(), &CtlFtpUL::Finish, [this](const QString& e) { finish = e; });
  }
  void pointAt(const TestFtpd& server, const QString& password = "pw") {
    queue->setRemoteHost("127.0.0.1");
    queue->setUsername("user");
    queue->setPassword(password);
    queue->setPort(server.port());
    queue->setPassive(true);
  }
  // Runs what is queued to its Finish.
  QString run() {
    finish.reset();
    queue->BeginUpload();
    return waitUntil([&] { return finish.has_value(); }, 30000) ? *finish : "<no Finish>";
  }
  QString publish(const QString& folder, const QString& remotePath = "/site") {
    queue->AddUploadItem(folder, remotePath);
    return run();
  }

  QTemporaryDir dir;
  QString local = dir.path() + "/Output";
  QString remote = dir.path() + "/remote";
  std::unique_ptr<CtlFtpUL> queue;
  QStringList events;
  std::optional<QString> finish;
  std::function<void()> onSize;
};

// Every folder comes before its subfolders, the files of the deeper folders
// first; a link back up is left out; a path that names nothing adds nothing.
TEST_F(UploadQueue, QueuesFoldersFirstAndTheDeepestFilesFirst) {
  for (const char* f : {"a.htm", ".htaccess", "sub/b.htm", "sub/deep/c.bin", "other/d.css"}) writeFile(local + "/" + f, "x");
  QDir().mkpath(local + "/empty");
  std::filesystem::create_directory_symlink(local.toStdString(), (local + "/sub/up").toStdString());
  queue->AddUploadItem(local, "/site");
  queue->AddUploadItem(local + "/missing", "/nothing");
  queue->AddUploadItem(local + "/a.htm", "/single.htm");

  const auto& folders = queue->folderQueue();
  EXPECT_EQ(folders.size(), 5u);
  for (size_t i = 1; i < folders.size(); ++i)
    EXPECT_NE(std::find(folders.begin(), folders.begin() + i, folders[i].section('/', 0, -2)), folders.begin() + i);
  QStringList files;
  for (const auto& item : queue->fileQueue().items()) files << item.remotePath;
  EXPECT_EQ(files.size(), 6);
  EXPECT_LT(files.indexOf("/site/sub/deep/c.bin"), files.indexOf("/site/sub/b.htm"));
  EXPECT_LT(files.indexOf("/site/sub/b.htm"), files.indexOf("/site/a.htm"));
  EXPECT_LT(files.indexOf("/site/other/d.css"), files.indexOf("/site/.htaccess"));
  EXPECT_EQ(files.last(), "/single.htm");
}

TEST_F(UploadQueue, TextExtensionsAreMatchedExactlyAsWritten) {
  EXPECT_EQ(queue->textExt(), "asp;htm;html;txt;cgi;csv;php;pl");
  for (const auto& [path, type] : {std::pair{"Detail_1.htm", "A"}, {"Detail_1.HTM", "I"}, {"README", "I"},
                                   {"/x/page.html", "A"}, {"a.tar.gz", "I"}, {"/d.txt/README", "I"}, {"file.", "I"}})
    EXPECT_EQ(queue->transferType(path), type) << path;
  queue->setTextExt("htm;HTM;htm; css;");
  EXPECT_EQ(queue->textExt(), "htm;HTM; css;");  // repeats collapse; blanks and the empty piece stay
  EXPECT_EQ(queue->transferType("a.css") + queue->transferType("a. css") + queue->transferType("file."), "IAA");
}

// Nested folders, an empty one, one that exists on the server already, a
// zero-byte file, text and binary files, a Japanese name.
TEST_F(UploadQueue, PublishesATreeAsThePagesLinkIt) {
  const QByteArray text = "line1\r\nline2\r\n";
  const QByteArray picture = binaryBytes(50000);
  for (const char* f : {"/Index.htm", "/Detail_1.HTM", "/img/deep/notes.txt"}) writeFile(local + f, text);
  writeFile(local + "/README", picture.left(3000));
  writeFile(local + QString::fromUtf8("/和食器.htm"), QString::fromUtf8("和食器\r\n").toUtf8());
  writeFile(local + "/img/logo.gif", picture);
  writeFile(local + "/img/empty.gif", "");
  QDir().mkpath(local + "/blank");
  QDir().mkpath(remote + "/site/img");  // MKD answered 550: exists
  TestFtpd server(remote);
  queue->AddUploadItem(local + "/missing", "/gone");
  queue->BeginUpload();  // nothing queued: done at once, no connection
  ASSERT_EQ(finish, QString());
  // An empty folder: its remote folder, and no file connection.
  pointAt(server);
  ASSERT_EQ(publish(local + "/blank", "/empty"), "");
  EXPECT_TRUE(QFileInfo(remote + "/empty").isDir());
  ASSERT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 1; }));
  EXPECT_TRUE(server.commands().filter("PASV").isEmpty());

  bool busyRefused = false;
  onSize = [&] {
    try {
      queue->BeginUpload();
    } catch (const quill::AutomationError& e) {
      busyRefused = e.number() == 10002 && e.description() == "It is busy in transfer data.";
    }
  };
  ASSERT_EQ(publish(local), "");
  EXPECT_TRUE(busyRefused);
  EXPECT_FALSE(queue->busy());
  // Text arrives with the server's line ends, everything else byte for byte.
  EXPECT_EQ(readFile(remote + "/site/Index.htm") + readFile(remote + "/site/img/deep/notes.txt"), "line1\nline2\nline1\nline2\n");
  EXPECT_EQ(readFile(remote + "/site/Detail_1.HTM"), text);
  EXPECT_EQ(readFile(remote + "/site/README"), picture.left(3000));
  EXPECT_EQ(readFile(remote + "/site/img/logo.gif"), picture);
  EXPECT_EQ(readFile(remote + "/site/img/empty.gif"), "");
  EXPECT_EQ(readFile(remote + QString::fromUtf8("/site/和食器.htm")), "和食器\n");  // named in UTF-8
  EXPECT_TRUE(QFileInfo(remote + "/site/blank").isDir());
  std::map<QString, QString> types;  // the TYPE in effect at each STOR
  QString type = "A";
  for (const QString& c : server.commands()) {
    if (c.startsWith("TYPE ")) type = c.mid(5);
    if (c.startsWith("STOR ")) types[c.mid(5)] = type;
  }
  EXPECT_EQ(types.size(), 7u);
  EXPECT_EQ(types.at("/site/Index.htm") + types.at("/site/Detail_1.HTM") + types.at("/site/README"), "AII");

  // One connection per phase; each file starts, grows by at most 8192 bytes
  // at a time and ends; the zero-byte file has no size at all.
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 3; }));
  EXPECT_EQ(events.filter(QRegularExpression("^Start ")).size(), 7);
  EXPECT_EQ(events.filter("End").size(), 7);
  EXPECT_EQ(events[events.indexOf("Start empty.gif") + 1], "End");
  qint64 last = 0;
  for (const QString& e : events) {
    const qint64 n = e.startsWith("Size ") ? e.mid(5).toLongLong() : 0;
    if (n) {
      EXPECT_TRUE(n > last && n - last <= CtlFtpUL::kBlockSize) << n;
    }
    last = n;
  }
}

// Each failure stops the run where it should and says what failed and
// where; a file cut short while it is read is named, and the run goes on.
TEST_F(UploadQueue, FailuresSayWhatFailedAndStopWhereTheyShould) {
  struct Case {
    const char* name;
    QStringList serverOptions;
    QString password;
    QString removed;         // a local file that goes away before its turn
    bool cutBigBin;          // big.bin shrinks while it is read
    QString expected;        // the error text, with PORT and LOCAL
    int sessions, filesStored;
  };
  const Case cases[] = {
      {"a remote folder that cannot be created: no file is sent", {"--refuse-mkd", "img"}, "pw", "", false,
       "Cannot create the remote folder \"/site/img\": Cannot create img here.", 1, 0},
      {"a wrong password", {}, "wrong", "", false, "Authentication failed.", 1, 0},
      {"a local file that cannot be opened: later files are not sent", {}, "pw", "img/logo.gif", false,
       "Sending \"LOCAL/img/logo.gif\" to \"/site/img/logo.gif\" failed: cannot open the local file: "
       "No such file or directory", 2, 0},
      {"the server drops every connection in the middle of a file: three tries", {"--drop-after", "100000"}, "pw", "",
       false,
       "Sending \"LOCAL/big.bin\" to \"/site/big.bin\" failed after 3 tries: The connection to 127.0.0.1:PORT was "
       "lost: the server closed the connection", 4, 4},
      {"a file cut short", {}, "pw", "", true,
       "\"/site/big.bin\" is short on the server: 16384 of the 600000 bytes of \"LOCAL/big.bin\" were read "
       "(the file ended early)", 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(dir.path()).removeRecursively();
    writeFile(local + "/big.bin", binaryBytes(600000));
    writeFile(local + "/img/logo.gif", binaryBytes(100));
    fresh();
    TestFtpd server(remote, c.serverOptions);
    onSize = [&] {
      if (c.cutBigBin && events.contains("Start big.bin")) QFile::resize(local + "/big.bin", 16384);
    };
    pointAt(server, c.password);
    queue->AddUploadItem(local, "/site");
    ASSERT_EQ(queue->fileQueue().items().back().remotePath, "/site/big.bin");  // the subfolder's file first
    if (!c.removed.isEmpty()) QFile::remove(local + "/" + c.removed);
    QString expected = c.expected;
    EXPECT_EQ(run(), expected.replace("PORT", server.port()).replace("LOCAL", local));
    EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == c.sessions; }));
    EXPECT_EQ(server.commands().filter(QRegularExpression("^STOR ")).size(), c.filesStored)
        << server.commands().join('\n').toStdString();
  }
}

}  // namespace
