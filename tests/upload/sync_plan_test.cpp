// The manifest's text form and sync mode's plan, without a server.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <random>

#include "generator/upload/manifest.h"
#include "generator/upload/sync_plan.h"

using namespace quill;

namespace {

std::string hashOf(const std::string& s) {
  return QCryptographicHash::hash(QByteArray::fromStdString(s), QCryptographicHash::Sha256).toHex().toStdString();
}

const std::string kHash = hashOf("x");

// Any list of safe paths survives text() and parse(), sorted; a text that
// breaks a rule is refused as a whole.
TEST(Manifest, RoundTripsAndRefusesWhatBreaksTheFormat) {
  std::mt19937 rng(7);
  const char* names[] = {"Index.htm", "a b.htm", "img/logo.gif", "和食器.htm", "z/y/x", ".htaccess"};
  for (int round = 0; round < 50; ++round) {
    std::vector<ManifestEntry> entries;
    for (const char* n : names)
      if (rng() % 2) entries.push_back({n, static_cast<int64_t>(rng() % 100000), hashOf(n)});
    const Manifest m(entries);
    const Manifest back = Manifest::parse(m.text());
    ASSERT_EQ(back.entries().size(), entries.size());
    for (const ManifestEntry& e : entries) {
      const ManifestEntry* found = back.find(e.path);
      ASSERT_NE(found, nullptr) << e.path;
      EXPECT_EQ(found->size, e.size);
      EXPECT_EQ(found->sha256, e.sha256);
    }
    EXPECT_TRUE(std::is_sorted(back.entries().begin(), back.entries().end(),
                               [](const auto& a, const auto& b) { return a.path < b.path; }));
  }
  EXPECT_EQ(Manifest::parse("quillant-manifest 1\r\n0 " + kHash + " a.htm\r\nend 1\r\n").entries().size(), 1u);

  const std::string head = "quillant-manifest 1\n";
  const std::string line = "3 " + kHash + " ";
  for (const std::string& bad : std::vector<std::string>{
           "",
           "quillant-manifest 2\nend 0\n",
           head,                                          // cut short
           head + line + "a.htm\nend 2\n",                // count
           head + line + "b.htm\n" + line + "a.htm\nend 2\n",  // order
           head + line + "a.htm\n" + line + "a.htm\nend 2\n",  // repeat
           head + line + "../up.htm\nend 1\n", head + line + "/etc/passwd\nend 1\n",
           head + line + "a//b\nend 1\n", head + line + "a/./b\nend 1\n", head + line + "a\\..\\..\\b\nend 1\n",
           head + line + "a\x01.htm\nend 1\n", head + line + "\nend 1\n",
           head + "3 " + kHash.substr(1) + " a.htm\nend 1\n", head + "3 " + hashOf("y").replace(0, 1, "A") + " a.htm\nend 1\n",
           head + "-3 " + kHash + " a.htm\nend 1\n", head + "03 " + kHash + " a.htm\nend 1\n",
           head + "3 " + kHash + "\nend 1\n", head + "end 0\nmore\n"}) {
    EXPECT_THROW(Manifest::parse(bad), ManifestError) << bad;
  }
}

SiteFile file(const std::string& path, const std::string& content) {
  return {QString::fromStdString("/local/" + path), QString::fromStdString("/site/" + path), path,
          static_cast<int64_t>(content.size()), hashOf(content)};
}

std::vector<std::string> pathsOf(const std::vector<SiteFile>& local, const std::vector<size_t>& indexes) {
  std::vector<std::string> out;
  for (size_t i : indexes) out.push_back(local[i].path);
  return out;
}

using Paths = std::vector<std::string>;

// Changed and new files go in link order, the queue's order kept within a
// stage; removed files are deleted, and their folders when the site no
// longer has them, deepest first; nothing the manifest does not list goes.
TEST(SyncPlan, SendsWhatChangedInLinkOrderAndDeletesOnlyWhatItPublished) {
  const std::vector<SiteFile> local = {
      file("img/new.gif", "gif"), file("Detail_2.htm", "two, cheaper"), file("Index.htm", "index 2"),
      file("Pans.htm", "pans 2"), file("Detail_1.htm", "one"), file("Subject.htm", "subject"),
      file("style.css", "css 2"), file("Detail_3.htm", "three"), file("Pots.HTML", "pots"),
  };
  const Manifest last({
      {"Detail_1.htm", 3, hashOf("one")},          // unchanged
      {"Detail_2.htm", 12, hashOf("two, dearer")},  // same size, other bytes
      {"Index.htm", 7, hashOf("index 1")},
      {"Pans.htm", 5, hashOf("pans 2")},          // other size, same hash: changed all the same
      {"Subject.htm", 7, hashOf("subject")},
      {"style.css", 3, hashOf("css")},
      {"Detail_9.htm", 4, hashOf("nine")},
      {"old/deep/Detail_8.htm", 5, hashOf("eight")},
      {"old/Detail_7.htm", 5, hashOf("seven")},
      {"img/gone.gif", 3, hashOf("gif")},  // img/ stays: the site still has it
  });
  const Paths folders = {"", "img", "empty"};
  const SyncPlan plan = planSync(local, folders, &last);

  EXPECT_EQ(pathsOf(local, plan.sends[0]), (Paths{"img/new.gif", "Detail_2.htm", "style.css", "Detail_3.htm"}));
  EXPECT_EQ(pathsOf(local, plan.sends[1]), (Paths{"Pans.htm", "Pots.HTML"}));
  EXPECT_EQ(pathsOf(local, plan.sends[2]), (Paths{"Index.htm"}));
  EXPECT_EQ(plan.unchanged, 2u);
  EXPECT_EQ(plan.bytesToSend, 3 + 12 + 5 + 5 + 6 + 4 + 7);
  EXPECT_EQ(plan.folders, (Paths{"", "img", "empty"}));
  EXPECT_EQ(plan.deletions, (Paths{"Detail_9.htm", "img/gone.gif", "old/Detail_7.htm", "old/deep/Detail_8.htm"}));
  EXPECT_EQ(plan.folderRemovals, (std::vector<Paths>{{"old/deep"}, {"old"}}));
  EXPECT_TRUE(plan.manifestChanges);
  EXPECT_EQ(plan.next.entries().size(), local.size());
  EXPECT_EQ(plan.next.find("Detail_2.htm")->sha256, hashOf("two, cheaper"));

  // Published again: nothing to do, not even a folder to create.
  const SyncPlan again = planSync(local, folders, &plan.next);
  EXPECT_EQ(again.sendCount() + again.deletions.size() + again.folderRemovals.size(), 0u);
  EXPECT_EQ(again.folders, (Paths{"empty"}));  // an empty folder is not in any manifest
  EXPECT_FALSE(again.manifestChanges);

  // Nothing known: every file goes, nothing is deleted.
  const SyncPlan blind = planSync(local, folders, nullptr);
  EXPECT_EQ(blind.sendCount(), local.size());
  EXPECT_TRUE(blind.deletions.empty());
  EXPECT_TRUE(blind.manifestChanges);
}

TEST(SyncPlan, RefusesNamesTheManifestCannotHoldOrKeepsForItself) {
  for (const char* name : {".quillant-manifest", ".quillant-manifest.part", "bad\nname.htm"})
    EXPECT_THROW(planSync({file(name, "x")}, {""}, nullptr), SyncPlanError) << name;
  EXPECT_NO_THROW(planSync({file("sub/.quillant-manifest", "x")}, {"", "sub"}, nullptr));
}

}  // namespace
