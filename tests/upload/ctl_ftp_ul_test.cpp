// The upload queue: its queueing and transfer-type rules on their own, and
// whole runs against the test server (pyftpdlib, with faults on request)
// started on a free loopback port: plain and sync mode, retries and several
// connections.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <filesystem>

#include "common/automation_error.h"
#include "generator/upload/ctl_ftp_ul.h"
#include "generator/upload/manifest.h"
#include "upload_test_support.h"

using namespace uploadtest;
using quill::CtlFtpUL;
using quill::PublishSummary;

namespace {

// Every file below a folder, by relative path, with its bytes.
std::map<QString, QByteArray> treeOf(const QString& root) {
  std::map<QString, QByteArray> tree;
  for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
    it.next();
    tree[QDir(root).relativeFilePath(it.filePath())] = readFile(it.filePath());
  }
  return tree;
}

class UploadQueue : public ::testing::Test {
 protected:
  UploadQueue() {
    ensureApp<QCoreApplication>();
    QDir().mkpath(local);
    QDir().mkpath(remote);
    fresh();
  }
  // A new queue; its signals are recorded.
  void fresh() {
    queue = std::make_unique<CtlFtpUL>();
    queue->setRetryWaits({20, 40});
    events.clear();
    notices.clear();
    finish.reset();
    QObject::connect(queue.get(), &CtlFtpUL::FileUploadStart,
                     [this](const QString& p) { events << "Start " + QFileInfo(p).fileName(); });
    QObject::connect(queue.get(), &CtlFtpUL::FileUploadSize, [this](qint64 n) {
      events << QStringLiteral("Size %1").arg(n);
      if (onSize) onSize();
    });
    QObject::connect(queue.get(), &CtlFtpUL::FileUploadEnd, [this] { events << "End"; });
    QObject::connect(queue.get(), &CtlFtpUL::Finish, [this](const QString& e) { finish = e; });
    QObject::connect(queue.get(), &CtlFtpUL::Notice, [this](const QString& n) { notices << n; });
    QObject::connect(queue.get(), &CtlFtpUL::Planned, [this](const PublishSummary& s) { planned = s; });
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
    if (!waitUntil([&] { return finish.has_value(); }, 30000)) return "<no Finish>";
    summary = queue->summary();
    return *finish;
  }
  QString publish(const QString& folder, const QString& remotePath = "/site") {
    queue->AddUploadItem(folder, remotePath);
    return run();
  }

  QTemporaryDir dir;
  QString local = dir.path() + "/Output";
  QString remote = dir.path() + "/remote";
  std::unique_ptr<CtlFtpUL> queue;
  QStringList events, notices;
  std::optional<QString> finish;
  std::function<void()> onSize;
  PublishSummary planned, summary;
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
  // Text (TYPE A) arrives with the server's line ends, everything else (TYPE
  // I) byte for byte.
  EXPECT_EQ(readFile(remote + "/site/Index.htm") + readFile(remote + "/site/img/deep/notes.txt"), "line1\nline2\nline1\nline2\n");
  EXPECT_EQ(readFile(remote + "/site/Detail_1.HTM"), text);
  EXPECT_EQ(readFile(remote + "/site/README"), picture.left(3000));
  EXPECT_EQ(readFile(remote + "/site/img/logo.gif"), picture);
  EXPECT_EQ(readFile(remote + "/site/img/empty.gif"), "");
  EXPECT_EQ(readFile(remote + QString::fromUtf8("/site/和食器.htm")), "和食器\n");  // named in UTF-8
  EXPECT_TRUE(QFileInfo(remote + "/site/blank").isDir());

  // One connection per phase; each file starts, grows by at most 8192 bytes
  // at a time and ends; the zero-byte file has no size at all.
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 3; }));
  EXPECT_EQ(events.filter(QRegularExpression("^Start ")).size(), 7);
  EXPECT_EQ(events.filter("End").size(), 7);
  EXPECT_EQ(events[events.indexOf("Start empty.gif") + 1], "End");
  qint64 last = 0;
  for (const QString& e : events) {
    const qint64 n = e.startsWith("Size ") ? e.mid(5).toLongLong() : 0;
    EXPECT_TRUE(!n || (n > last && n - last <= CtlFtpUL::kBlockSize)) << n;
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

class Sync : public UploadQueue {
 protected:
  Sync() {
    site = {{"Index.htm", "<a href=Pans.htm>pans</a>\n"}, {"Subject.htm", "<a href=Pans.htm>p</a>\n"},
            {"Pans.htm", "<a href=Detail_1.htm>1</a>\n"}, {"Detail_1.htm", "one\n"},
            {"Detail_2.htm", "two\n"},  {"style.css", "p {}\n"},
            {"img/logo.gif", binaryBytes(30000)}, {"gone/Detail_9.htm", "nine\n"},
            {"shared/Detail_5.htm", "five\n"}};
    for (int i = 0; i < 30; ++i) site[QStringLiteral("Detail_1%1.htm").arg(i)] = QByteArray(2000 + i, 'd');
    writeSite();
  }
  void writeSite() {
    QDir(local).removeRecursively();
    for (const auto& [path, bytes] : site) writeFile(local + "/" + path, bytes);
  }
  // One run of a new queue with the options given.
  QString publish(const TestFtpd& server, bool sync = true, int connections = 1, bool dryRun = false) {
    fresh();
    pointAt(server);
    queue->setSyncMode(sync);
    queue->setDryRun(dryRun);
    queue->setConnections(connections);
    queue->setStallTimeout(1);
    return UploadQueue::publish(local);
  }
  // The commands of the server's sessions since the last call.
  QStringList newCommands(const TestFtpd& server) {
    const QStringList all = server.commands();
    const QStringList fresh = all.mid(seen);
    seen = all.size();
    return fresh;
  }
  std::map<QString, QByteArray> expectedTree(std::map<QString, QByteArray> extra = {}) {
    for (const auto& [path, bytes] : site) extra[path] = bytes;
    return extra;
  }
  std::map<QString, QByteArray> serverSite() {
    auto tree = treeOf(remote + "/site");
    tree.erase(quill::Manifest::kFileName);
    return tree;
  }

  std::map<QString, QByteArray> site;
  qsizetype seen = 0;
};

// The first publish sends everything in link order and leaves the manifest;
// the second touches nothing; a changed page goes alone; removed pages are
// deleted with the folders they leave empty, and nothing of anyone else's
// goes. This server will not rename over a file, so the manifest is
// replaced the long way.
TEST_F(Sync, SendsWhatChangedAndDeletesOnlyWhatItPublished) {
  TestFtpd server(remote, {"--no-rename-over"});
  ASSERT_EQ(publish(server), "");
  EXPECT_EQ(serverSite(), expectedTree());
  QStringList commands = newCommands(server);
  const QStringList stores = commands.filter(QRegularExpression("^STOR "));
  auto at = [&](const QString& name) { return stores.indexOf("STOR /site/" + name); };
  EXPECT_EQ(stores.size(), static_cast<qsizetype>(site.size()) + 1);
  EXPECT_LT(std::max({at("Detail_1.htm"), at("img/logo.gif"), at("style.css")}), at("Pans.htm"));
  EXPECT_LT(at("Pans.htm"), std::min(at("Index.htm"), at("Subject.htm")));
  EXPECT_EQ(commands.mid(commands.size() - 4), (QStringList{"STOR /site/.quillant-manifest.part",
                                                             "RNFR /site/.quillant-manifest.part",
                                                             "RNTO /site/.quillant-manifest", "QUIT"}));
  const auto manifest = quill::Manifest::parse(readFile(remote + "/site/.quillant-manifest").toStdString());
  EXPECT_EQ(manifest.entries().size(), site.size());
  EXPECT_EQ(manifest.find("img/logo.gif")->size, 30000);
  EXPECT_TRUE(planned.manifestNote.contains("no manifest"));

  // Nothing changed: the manifest is read, nothing else happens.
  ASSERT_EQ(publish(server), "");
  EXPECT_EQ(newCommands(server), (QStringList{"USER user", "PASS ***", "TYPE I", "PASV",
                                              "RETR /site/.quillant-manifest", "QUIT"}));
  EXPECT_EQ(summary.unchanged, static_cast<int64_t>(site.size()));
  EXPECT_EQ(summary.sent + summary.deleted, 0);

  // One page changed; two removed; a file and a folder of someone else's.
  writeFile(remote + "/site/by-hand.txt", "mine\n");
  writeFile(remote + "/site/shared/by-hand.txt", "mine too\n");
  site["Detail_1.htm"] = "one, now cheaper\n";
  site.erase("gone/Detail_9.htm");
  site.erase("shared/Detail_5.htm");
  writeSite();
  ASSERT_EQ(publish(server), "");
  EXPECT_EQ(serverSite(), expectedTree({{"by-hand.txt", "mine\n"}, {"shared/by-hand.txt", "mine too\n"}}));
  commands = newCommands(server);
  EXPECT_EQ(commands.filter(QRegularExpression("^(STOR|DELE|RMD) ")),
            (QStringList{"STOR /site/Detail_1.htm", "DELE /site/gone/Detail_9.htm", "DELE /site/shared/Detail_5.htm",
                         "RMD /site/gone", "RMD /site/shared", "STOR /site/.quillant-manifest.part",
                         "DELE /site/.quillant-manifest"}));
  EXPECT_FALSE(QFileInfo::exists(remote + "/site/gone"));
  EXPECT_EQ(summary.sent * 10 + summary.deleted, 12);
  EXPECT_EQ(quill::Manifest::parse(readFile(remote + "/site/.quillant-manifest").toStdString()).entries().size(),
            site.size());
}

// A manifest that cannot be trusted (here one that would delete outside the
// site) counts as none: everything is sent, nothing is deleted, and a good
// manifest replaces it. A dry run afterwards changes nothing on the server.
TEST_F(Sync, ABadManifestMeansNothingKnownAndADryRunChangesNothing) {
  TestFtpd server(remote);
  const QByteArray hash(64, 'a');
  writeFile(remote + "/outside.txt", "keep\n");
  writeFile(remote + "/site/victim.htm", "keep\n");
  writeFile(remote + "/site/.quillant-manifest",
            "quillant-manifest 1\n5 " + hash + " ../outside.txt\n5 " + hash + " victim.htm\nend 2\n");
  ASSERT_EQ(publish(server), "");
  EXPECT_EQ(serverSite(), expectedTree({{"victim.htm", "keep\n"}}));
  EXPECT_EQ(readFile(remote + "/outside.txt"), "keep\n");
  EXPECT_EQ(summary.sent, static_cast<int64_t>(site.size()));
  EXPECT_TRUE(planned.manifestNote.contains("cannot be used (line 2: unsafe path \"../outside.txt\")"))
      << planned.manifestNote.toStdString();

  site["Detail_2.htm"] = "changed\n";
  site.erase("style.css");
  writeSite();
  const auto before = treeOf(remote);
  newCommands(server);
  ASSERT_EQ(publish(server, true, 4, true), "");
  EXPECT_EQ(treeOf(remote), before);
  EXPECT_TRUE(newCommands(server).filter(QRegularExpression("^(STOR|DELE|RMD|MKD|RNFR|RNTO|APPE)")).isEmpty());
  EXPECT_EQ(planned.toSend * 100 + planned.toDelete * 10 + planned.dryRun, 111);
  EXPECT_EQ(planned.unchanged, static_cast<int64_t>(site.size()) - 1);
}

// A connection dropped in the middle of a file, a 421, a server that stops
// reading: the file is sent again on a new connection, the site arrives
// whole, and the retry is reported. The same in plain mode.
TEST_F(Sync, AFileThatFailsOnceIsSentAgainOnANewConnection) {
  for (const bool sync : {true, false}) {
    for (const char* fault : {"3:drop", "5:421", "2:stall"}) {
      SCOPED_TRACE(QStringLiteral("%1, %2").arg(sync ? "sync" : "plain", fault).toStdString());
      QDir(remote).removeRecursively();
      TestFtpd server(remote, {"--fault", fault});
      ASSERT_EQ(publish(server, sync), "");
      EXPECT_EQ(serverSite(), expectedTree());
      ASSERT_EQ(summary.retried.size(), 1);
      EXPECT_TRUE(summary.retried[0].endsWith("(2 tries)")) << summary.retried[0].toStdString();
      EXPECT_EQ(notices.filter("trying again").size(), 1) << notices.join('\n').toStdString();
    }
  }
}

// Four or eight connections give the same site as one (the first test). A server that takes
// two connections only still gets all of it; a file it refuses is named,
// and the manifest is not written.
TEST_F(Sync, SeveralConnectionsGiveTheSameSiteAndNameTheFileThatFailed) {
  for (const int n : {4, 8}) {
    QDir(remote).removeRecursively();
    TestFtpd server(remote, n == 8 ? QStringList{"--max-cons-per-ip", "2"} : QStringList{});
    ASSERT_EQ(publish(server, true, n), "") << n;
    EXPECT_EQ(serverSite(), expectedTree()) << n;
    EXPECT_EQ(summary.sent, static_cast<int64_t>(site.size()));
    if (n == 4) {
      EXPECT_EQ(server.commands().filter("USER ").size(), 4);
    } else if (n == 8) {
      EXPECT_FALSE(summary.notes.isEmpty());
    }
  }
  QDir(remote).removeRecursively();
  TestFtpd refusing(remote, {"--refuse-stor", "Detail_17.htm"});
  EXPECT_EQ(publish(refusing, true, 4), "Sending \"" + local + "/Detail_17.htm\" to \"/site/Detail_17.htm\" failed: "
                                        "Cannot store Detail_17.htm here.");
  EXPECT_FALSE(QFileInfo::exists(remote + "/site/.quillant-manifest"));
  EXPECT_FALSE(QFileInfo::exists(remote + "/site/Index.htm"));  // the entry pages wait for the leaves
}

}  // namespace
