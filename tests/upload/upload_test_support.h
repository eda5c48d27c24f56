// Shared fixtures of the upload tests: the test server and files (from
// tests/server_support.h), and a project whose upload settings point at the
// server.
#pragma once

#include <map>
#include <string>

#include "store/dom.h"
#include "tests/server_support.h"

namespace uploadtest {

using namespace servertest;

// folder/ProjectDef.prj with upload settings for the test server; `ftp`
// overrides attributes of Setup\Ftp ("<none>" leaves one out).
inline std::string writeProject(const QString& folder, const QString& port,
                                const std::map<std::string, std::string>& ftp = {}) {
  std::map<std::string, std::string> attrs = {
      {"Ip", "127.0.0.1"}, {"Port", port.toStdString()}, {"User", "user"}, {"Password", "pw"}, {"Account", ""},
      {"ServerPath", "/site"}, {"PassMode", "1"}, {"FirewallFlag", "0"}};
  for (const auto& [k, v] : ftp) attrs[k] = v;
  auto node = quill::cvDomNode::create("Ftp");
  for (const auto& [k, v] : attrs)
    if (v != "<none>") node->loadAttr(k, v);
  auto setup = quill::cvDomNode::create("Setup");
  setup->appendNode(node);
  auto doc = quill::cvDomDoc::create();
  doc->setRoot(quill::cvDomNode::create("Project"));
  doc->root()->appendNode(setup);
  QDir().mkpath(folder);
  const std::string path = (folder + "/ProjectDef.prj").toStdString();
  doc->saveDoc(path);
  return path;
}

}  // namespace uploadtest
