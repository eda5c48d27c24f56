// A folder counts as writable when a probe file can be made in it: access()
// answers for the permission bits but not for read-only mounts.
#include "designer/designer_context.h"

#include <filesystem>
#include <fstream>

#include "common/automation_error.h"
#include "generator/project/captions.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

bool canWriteIn(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) return false;
  const fs::path probe = folder / ".quillant-write-probe";
  bool written = static_cast<bool>(std::ofstream(probe));
  fs::remove(probe, ec);
  return written;
}

// The store's error with a description that names the file and its folder.
std::shared_ptr<cvDomDoc> readProgramFile(const std::string& appFolder, const char* name) {
  auto doc = cvDomDoc::create();
  const std::string path = appFolder + name;
  try {
    doc->readDoc(path);
  } catch (const AutomationError& e) {
    std::error_code ec;
    const std::string why = fs::exists(path, ec) ? e.description() : "the file is missing";
    throw AutomationError(e.number(), e.source(), std::string(name) + " in " + appFolder + ": " + why);
  }
  return doc;
}

}  // namespace

std::string withSeparator(std::string path) {
  const char separator = static_cast<char>(fs::path::preferred_separator);
  if (path.empty() || (path.back() != separator && path.back() != '/')) path += separator;
  return path;
}

DesignerContext loadDesignerContext(const std::string& appFolder) {
  DesignerContext context;
  context.appFolder = withSeparator(appFolder);
  context.settingsDoc = readProgramFile(context.appFolder, "System.xml");
  cvDomDoc::setDebugFlag(true);
  context.captionDoc = readProgramFile(context.appFolder, "dlang.xml");
  context.formsNode = captionNode(context.captionDoc->root(), "forms");
  context.messageNode = captionNode(context.captionDoc->root(), "Message");
  context.initNode = captionNode(context.settingsDoc->root(), "Init");
  return context;
}

std::string defaultProjectsFolder(const std::string& appFolder, const std::string& documentsFolder) {
  const fs::path inProgram = fs::path(withSeparator(appFolder)) / "Projects";
  if (canWriteIn(inProgram)) return withSeparator(inProgram.string());
  const fs::path inDocuments = fs::path(documentsFolder) / "Quillant Projects";
  std::error_code ec;
  fs::create_directories(inDocuments, ec);
  return withSeparator(inDocuments.string());
}

}  // namespace quill
