// A folder counts as writable when a probe file can be made in it: access()
// answers for the permission bits but not for read-only mounts.
#include "designer/designer_context.h"

#include <filesystem>
#include <fstream>

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

}  // namespace

std::string withSeparator(std::string path) {
  const char separator = static_cast<char>(fs::path::preferred_separator);
  if (path.empty() || (path.back() != separator && path.back() != '/')) path += separator;
  return path;
}

DesignerContext loadDesignerContext(const std::string& appFolder) {
  DesignerContext context;
  context.appFolder = withSeparator(appFolder);
  context.settingsDoc = cvDomDoc::create();
  context.settingsDoc->readDoc(context.appFolder + "System.xml");
  cvDomDoc::setDebugFlag(true);
  context.captionDoc = cvDomDoc::create();
  context.captionDoc->readDoc(context.appFolder + "dlang.xml");
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
