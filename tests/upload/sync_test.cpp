// Sync mode, retries and several connections, as whole runs of the upload
// queue against the test server (pyftpdlib, with faults on request).
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDirIterator>

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

class Sync : public ::testing::Test {
 protected:
  Sync() {
    ensureApp<QCoreApplication>();
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
  // One run of the queue with the options given; its events as lines.
  QString publish(const TestFtpd& server, bool sync = true, int connections = 1, bool dryRun = false) {
    CtlFtpUL queue;
    queue.setRemoteHost("127.0.0.1");
    queue.setUsername("user");
    queue.setPassword("pw");
    queue.setPort(server.port());
    queue.setPassive(true);
    queue.setSyncMode(sync);
    queue.setDryRun(dryRun);
    queue.setConnections(connections);
    queue.setRetryWaits({20, 40});
    queue.setStallTimeout(1);
    notices.clear();
    std::optional<QString> finish;
    QObject::connect(&queue, &CtlFtpUL::Notice, [this](const QString& n) { notices << n; });
    QObject::connect(&queue, &CtlFtpUL::Planned, [this](const PublishSummary& s) { planned = s; });
    QObject::connect(&queue, &CtlFtpUL::Finish, [&](const QString& e) { finish = e; });
    queue.AddUploadItem(local, "/site");
    queue.BeginUpload();
    if (!waitUntil([&] { return finish.has_value(); }, 30000)) return "<no Finish>";
    summary = queue.summary();
    return *finish;
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

  QTemporaryDir dir;
  QString local = dir.path() + "/Output";
  QString remote = dir.path() + "/remote";
  std::map<QString, QByteArray> site;
  QStringList notices;
  PublishSummary planned, summary;
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

// One, four or eight connections give the same site. A server that takes
// two connections only still gets all of it; a file it refuses is named,
// and the manifest is not written.
TEST_F(Sync, SeveralConnectionsGiveTheSameSiteAndNameTheFileThatFailed) {
  for (const int n : {1, 4, 8}) {
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
