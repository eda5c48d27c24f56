// A project folder in a temporary place, with a project definition built
// through the store, script files and a caption document, for run tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/test_application.h"
#include "common/utf.h"
#include "generator/report/prompter.h"
#include "generator/report/status_display.h"
#include "store/dom.h"

namespace quill::test {

namespace fs = std::filesystem;

inline QApplication& qtApplication() { return testApplication<QApplication>(); }

struct ScriptEntry {
  std::string selected = "True";  // "" leaves the attribute out
  std::string scriptCode;
  std::string name;
};

inline void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A workbook whose first worksheet holds a title row and then rows (text
// cells; "" leaves a cell empty, "\\n" in a value is a line break), written
// with xlwt; no rows at all make an empty worksheet. scratch holds the
// helper files.
inline void writeTestWorkbook(const fs::path& workbook, const std::vector<std::vector<std::string>>& rows,
                              const fs::path& scratch) {
  std::string table;  // one row per line, cells separated by tabs
  if (!rows.empty()) table += "Code\tGroup\tName\tMaker\tPrice\tFlag\tDescription\n";
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) table += (i ? "\t" : "") + row[i];
    table += '\n';
  }
  writeBytes(scratch / "rows.txt", table);
  writeBytes(scratch / "workbook.py",
             "import sys, xlwt\n"
             "wb = xlwt.Workbook(encoding='utf-8')\n"
             "s = wb.add_sheet('Items')\n"
             "for r, line in enumerate(open(sys.argv[1], encoding='utf-8').read().splitlines()):\n"
             "    for c, v in enumerate(line.split('\\t')):\n"
             "        if v: s.write(r, c, v.replace('\\\\n', '\\n'))\n"
             "wb.save(sys.argv[2])\n");
  const std::string command = "/usr/bin/python3 '" + (scratch / "workbook.py").string() + "' '" +
                              (scratch / "rows.txt").string() + "' '" + workbook.string() + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot write the test workbook");
}

class TestProject {
 public:
  explicit TestProject(const std::string& folderName = "project") {
    base_ = fs::temp_directory_path() / ("quillant-test-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(counter_++));
    fs::create_directories(base_);
    folder_ = base_ / fs::path(folderName);
    fs::create_directories(folder_ / "Script");
    fs::create_directories(base_ / "app");
    writeCaptions();
  }
  ~TestProject() {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }

  fs::path folder() const { return folder_; }
  std::string folderText() const { return folder_.string() + "/"; }
  std::string appFolder() const { return (base_ / "app").string() + "/"; }
  std::string projectFile() const { return (folder_ / "ProjectDef.prj").string(); }

  void writeProject(const std::vector<ScriptEntry>& entries, bool withSetup = true) const {
    auto doc = cvDomDoc::create();
    auto root = cvDomNode::create("Project");
    root->loadAttr("Name", "Test");
    auto scripts = cvDomNode::create("Scripts");
    for (const auto& e : entries) {
      auto node = cvDomNode::create("Script");
      if (!e.selected.empty()) node->loadAttr("Selected", e.selected);
      node->loadAttr("ScriptCode", e.scriptCode);
      node->loadAttr("Name", e.name);
      scripts->appendNode(node);
    }
    root->appendNode(scripts);
    if (withSetup) root->appendNode(cvDomNode::create("Setup"));
    doc->setRoot(root);
    doc->saveDoc(projectFile());
  }

  // Script text stored as UTF-16LE, as scripts are kept.
  void writeScript(const std::string& name, const std::string& luaText) const {
    writeBytes(folder_ / "Script" / fs::path(name), stringToUtf16le(utf8ToUtf16(luaText)));
  }
  // Data.xls of the project: see writeTestWorkbook.
  void writeWorkbook(const std::vector<std::vector<std::string>>& rows) const {
    writeTestWorkbook(folder_ / "Data.xls", rows, base_);
  }

  static void writeBytes(const fs::path& path, const std::string& bytes) { test::writeBytes(path, bytes); }

 private:
  void writeCaptions() const {
    auto doc = cvDomDoc::create();
    doc->setRoot(cvDomNode::create("lang"));
    doc->root()->setValue(
        "<lang><forms><frmStatus Caption=\"Status\"><Command1 Caption=\"Cancel\"/>"
        "<Message Outputing=\" running\"/></frmStatus>"
        "<frmClientMain><Toolbar1><excel Caption=\"&amp;Sheet\"/><print Caption=\"Make\"/>"
        "<send Caption=\"Send\"/><setup Caption=\"Set\"/></Toolbar1></frmClientMain>"
        "<frmOpenProject Caption=\"Open\"><Label1 Caption=\"How\"/><Command1 Caption0=\"Pick\" Caption1=\"Close\"/>"
        "</frmOpenProject></forms>"
        "<Message ErrOccured=\"Failed:\"/></lang>");
    doc->saveDoc(appFolder() + "qlang.xml");
  }

  static inline int counter_ = 0;
  fs::path base_;
  fs::path folder_;
};

// Records what a run shows.
class RecordingDisplay : public StatusDisplay {
 public:
  std::vector<std::string> statusLines, positions, debugTexts, notices, failures;  // positions: "k/n"
  std::string title;
  bool cancel = false;
  int cancelAfterEntries = -1;  // sets the cancel flag once this many entries started
  int eventRounds = 0;          // processEvents calls

  void setCaptions(const std::string& t, const std::string&) override { title = t; }
  void started() override {}
  void entryStarted(const std::string& text, int position, int total) override {
    statusLines.push_back(text);
    positions.push_back(std::to_string(position) + "/" + std::to_string(total));
    if (cancelAfterEntries >= 0 && static_cast<int>(statusLines.size()) >= cancelAfterEntries)
      cancel = true;
  }
  void setDebugText(const std::string& text) override { debugTexts.push_back(text); }
  void notice(const std::string& text) override { notices.push_back(text); }
  void failed(const std::string& explanation) override { failures.push_back(explanation); }
  void processEvents() override { ++eventRounds; }
  bool cancelFlag() const override { return cancel; }
};

class RecordingPrompter : public Prompter {
 public:
  std::vector<std::string> errors, explanations;  // a failure's explanation and its text (in errors)
  void failure(const std::string& explanation, const std::string& text) override {
    explanations.push_back(explanation);
    errors.push_back(text);
  }
  void info(const std::string&, const std::string&) override {}
  void error(const std::string& t, const std::string&) override { errors.push_back(t); }
  void warning(const std::string& t, const std::string&) override { errors.push_back(t); }
  bool confirm(const std::string&, const std::string&, bool d) override { return d; }
};

}  // namespace quill::test
