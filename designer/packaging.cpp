// The project definition is written through the store rather than copied
// byte for byte, so that a project that asks for its FTP password at upload
// (Setup\Ftp AskPassword="1") never carries a password into a package.
#include "designer/packaging.h"

#include <algorithm>
#include <filesystem>

#include "common/automation_error.h"
#include "designer/designer_context.h"
#include "generator/import/workbook_file.h"
#include "generator/report/desktop.h"
#include "generator/report/prompter.h"
#include "store/dom.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

constexpr fs::copy_options kOverwrite = fs::copy_options::overwrite_existing | fs::copy_options::copy_symlinks;

bool isComponentLibrary(const std::string& name) {
  return (name.starts_with("lib") && name.find(".so") != std::string::npos) || name.ends_with(".dylib") ||
         name.ends_with(".dll");
}

}  // namespace

std::vector<std::string> componentLibraries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (isComponentLibrary(name) && !it->is_directory(ec)) names.push_back(name);
  }
  return names;
}

PackageMaker::PackageMaker(std::string appFolder, std::string projectFolder, PackageTexts texts, Prompter& prompter,
                           Desktop& desktop)
    : appFolder_(withSeparator(std::move(appFolder))),
      projectFolder_(withSeparator(std::move(projectFolder))),
      texts_(std::move(texts)),
      prompter_(prompter),
      desktop_(desktop) {}

bool PackageMaker::make(const std::string& folder) {
  failures_.clear();
  std::error_code ec;
  const bool existed = fs::is_directory(folder, ec);
  const std::string dest = withSeparator(folder);
  // Writing over files needs a deliberate OK; making a new folder does not.
  const bool agreed = existed ? prompter_.confirm(texts_.overwriteFolderConfirm, {}, false)
                              : prompter_.confirmCaution(texts_.newFolderConfirm, {}, true);
  if (!agreed) return false;
  fs::create_directories(dest, ec);
  if (!fs::is_directory(dest, ec)) {
    prompter_.error(texts_.errMakeFolder + "\r\n" + folder);
    return false;
  }
  copyEntries(dest);
  if (!failures_.empty()) {
    std::string text = texts_.copyFailed;
    for (const std::string& f : failures_) text += "\r\n" + f;
    prompter_.error(text);
    return false;
  }
  desktop_.open(folder);
  return true;
}

void PackageMaker::copyEntries(const std::string& dest) {
  for (const char* entry : {kGeneratorProgram, "printing", "uploading", "qlang.xml"})
    copyFile(appFolder_ + entry, dest + entry, entry);
  for (const std::string& library : componentLibraries(appFolder_))
    copyFile(appFolder_ + library, dest + library, library);

  writeDefinition(dest + "ProjectDef.prj");
  const WorkbookChoice workbook = findWorkbook(projectFolder_);
  const std::string workbookName = fs::path(workbook.path).filename().string();
  copyFile(workbook.path, dest + workbookName, workbookName);

  for (const char* entry : {"Html", "Script", "Output"}) copyFolder(projectFolder_ + entry, dest + entry, entry);
  std::error_code ec;
  if (fs::is_directory(projectFolder_ + "HtmlTemplate", ec))
    copyFolder(projectFolder_ + "HtmlTemplate", dest + "HtmlTemplate", "HtmlTemplate");
}

void PackageMaker::copyFile(const std::string& from, const std::string& to, const std::string& entry) {
  std::error_code ec;
  if (fs::is_symlink(to, ec) || (fs::is_symlink(from, ec) && fs::exists(to, ec))) fs::remove(to, ec);
  fs::copy(from, to, kOverwrite, ec);
  if (ec) failures_.push_back(entry + ": " + ec.message());
}

void PackageMaker::copyFolder(const std::string& from, const std::string& to, const std::string& entry) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) {
    failures_.push_back(entry + ": " + std::make_error_code(std::errc::no_such_file_or_directory).message());
    return;
  }
  // A package folder inside the folder being copied would copy itself
  // without end.
  const fs::path source = fs::weakly_canonical(from, ec);
  const fs::path target = fs::weakly_canonical(to, ec);
  const auto [end, rest] = std::mismatch(source.begin(), source.end(), target.begin(), target.end());
  if (end == source.end()) {
    failures_.push_back(entry + ": " + std::make_error_code(std::errc::invalid_argument).message());
    return;
  }
  fs::copy(from, to, kOverwrite | fs::copy_options::recursive, ec);
  if (ec) failures_.push_back(entry + ": " + ec.message());
}

void PackageMaker::writeDefinition(const std::string& to) {
  try {
    cvDomDoc doc;
    doc.readDoc(projectFolder_ + "ProjectDef.prj");
    const DomNodeRef setup = doc.root()->existsName("Setup") ? doc.root()->node("Setup", Missing::Raise) : nullptr;
    const DomNodeRef ftp = setup && setup->existsName("Ftp") ? setup->node("Ftp", Missing::Raise) : nullptr;
    if (ftp && ftp->hasAttr("AskPassword") && ftp->getAttr("AskPassword", Missing::Raise) == "1" &&
        ftp->hasAttr("Password"))
      ftp->setAttr("Password", "", Missing::Raise);
    doc.saveDoc(to);
  } catch (const AutomationError& e) {
    failures_.push_back("ProjectDef.prj: " + e.description());
  }
}

}  // namespace quill
