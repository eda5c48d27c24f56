#include "designer/new_project.h"

#include <filesystem>

#include "common/automation_error.h"
#include "store/dom.h"

namespace fs = std::filesystem;

namespace quill {

std::vector<std::string> subfolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_directory(ec)) names.push_back(it->path().filename().string());
  return names;
}

std::string proposeProjectName(const std::string& parentFolder) {
  std::error_code ec;
  for (int n = 1;; ++n) {
    const std::string name = "Project" + std::to_string(n);
    if (!fs::exists(fs::path(parentFolder) / name, ec)) return name;
  }
}

NewProjectResult createProject(const std::string& source, const std::string& target, const std::string& name) {
  using Outcome = NewProjectResult::Outcome;
  fs::path folder(target);
  if (!folder.has_filename()) folder = folder.parent_path();  // "…/Project3/" is "…/Project3"
  std::error_code ec;
  if (fs::exists(folder, ec)) return {Outcome::Existed, {}, {}};
  if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
  if (ec) return {Outcome::CannotMakeFolder, {}, {}};
  fs::copy(source, folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) return {Outcome::CannotMakeFolder, {}, ec.message()};
  const std::string projectFile = (folder / "ProjectDef.prj").string();
  try {
    cvDomDoc doc;
    doc.readDoc(projectFile);
    doc.root()->setAttr("Name", name, cvDomDoc::debugFlag() ? Missing::Raise : Missing::Create);
    doc.saveDoc();
  } catch (const AutomationError& e) {
    return {Outcome::CannotSetUpDefinition, {}, e.description()};
  } catch (const std::exception& e) {
    return {Outcome::CannotSetUpDefinition, {}, e.what()};
  }
  return {Outcome::Created, projectFile, {}};
}

}  // namespace quill
