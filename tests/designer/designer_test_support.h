// A designer program folder in a temporary place (the built dlang.xml,
// System.xml and design templates), with recorders for message boxes, the
// desktop and program starts, and project files written through the store.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "designer/designer_context.h"
#include "designer/designer_services.h"
#include "designer/launcher.h"
#include "generator/report/desktop.h"
#include "generator/report/prompter.h"
#include "store/dom.h"
#include "tests/test_application.h"

namespace quill::test {

namespace fs = std::filesystem;

struct Message {
  std::string kind;  // info, error, warning, confirm
  std::string text;
};

class FakePrompter : public Prompter {
 public:
  std::vector<Message> messages;
  bool answer = true;  // to every confirmation
  void info(const std::string& t, const std::string&) override { messages.push_back({"info", t}); }
  void error(const std::string& t, const std::string&) override { messages.push_back({"error", t}); }
  void warning(const std::string& t, const std::string&) override { messages.push_back({"warning", t}); }
  bool confirm(const std::string& t, const std::string&, bool) override {
    messages.push_back({"confirm", t});
    return answer;
  }
};

class RecordingDesktop : public Desktop {
 public:
  std::vector<std::string> opened;
  void open(const std::string& path) override { opened.push_back(path); }
};

class RecordingLauncher : public Launcher {
 public:
  struct Start {
    std::string program;
    std::vector<std::string> arguments;
  };
  std::vector<Start> starts;
  bool start(const std::string& program, const std::vector<std::string>& arguments, const std::string&) override {
    starts.push_back({program, arguments});
    return true;
  }
};

inline fs::path programDir() { return std::getenv("QUILLANT_PROGRAM_DIR"); }

struct ScriptRow {
  std::string name, tempHtml, desc, selected;
};

// A ProjectDef.prj with a root Name and a Scripts node of these rows.
inline void writeProject(const fs::path& folder, const std::vector<ScriptRow>& rows, bool withName = true) {
  fs::create_directories(folder);
  cvDomDoc doc;
  doc.setRoot(cvDomNode::create("Project"));
  if (withName) doc.root()->setAttr("Name", "Shop", Missing::Create);
  const DomNodeRef scripts = doc.root()->node("Scripts", Missing::Create);
  for (const ScriptRow& r : rows) {
    auto entry = cvDomNode::create("Script");
    entry->setAttr("Selected", r.selected, Missing::Create);
    entry->setAttr("ScriptCode", r.name + ".lua", Missing::Create);
    entry->setAttr("Name", r.name, Missing::Create);
    entry->setAttr("TempHtml", r.tempHtml, Missing::Create);
    entry->setAttr("Desc", r.desc, Missing::Create);
    scripts->appendNode(entry);
  }
  doc.saveDoc((folder / "ProjectDef.prj").string());
}

// Every file below folder but one with its size and modification time (a
// folder's own time changes with the temporary file of a safe save).
using Snapshot = std::map<std::string, std::pair<uintmax_t, fs::file_time_type>>;
inline Snapshot snapshot(const fs::path& folder, const std::string& except = "") {
  Snapshot files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file() && fs::relative(e.path(), folder) != except)
      files[fs::relative(e.path(), folder).string()] = {e.file_size(), e.last_write_time()};
  return files;
}

class DesignerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    testApplication<QApplication>();
    root = fs::temp_directory_path() / ("quillant designer " + std::to_string(::getpid()) + " " +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    appFolder = root / "program";
    fs::create_directories(appFolder);
    for (const char* file : {"dlang.xml", "System.xml"}) fs::copy(programDir() / file, appFolder / file);
    fs::copy(programDir() / "HtmlDesign", appFolder / "HtmlDesign", fs::copy_options::recursive);
    projects = root / "Projects";
    fs::create_directories(projects);
    services.prompter = &prompter;
    services.desktop = &desktop;
    services.launcher = &launcher;
    services.projectsFolder = projects.string() + "/";
    services.pickOpenFile = [this](QWidget*, const QString&, const QString&, const QString&) { return picked; };
    services.pickSavePath = [this](QWidget*, const QString&, const QString&) { return picked; };
  }
  void TearDown() override { fs::remove_all(root); }

 public:  // reached from the cases of table-driven tests
  DesignerContext& load() {
    context = loadDesignerContext(appFolder.string());
    return context;
  }

  // Changes the program folder's caption document through the store.
  template <class Edit>
  void editCaptions(Edit edit) {
    cvDomDoc doc;
    doc.readDoc((appFolder / "dlang.xml").string());
    edit(doc.root());
    doc.saveDoc();
  }

  fs::path root, appFolder, projects;
  DesignerContext context;
  DesignerServices services;
  FakePrompter prompter;
  RecordingDesktop desktop;
  RecordingLauncher launcher;
  QString picked;
};

}  // namespace quill::test
