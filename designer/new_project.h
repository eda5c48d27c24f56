// Making a project from a design template, without a window: the design
// folders (HtmlDesign/<category>/<design>), the proposed name, and the copy
// that becomes the new project with its name written into ProjectDef.prj.
#pragma once

#include <string>
#include <vector>

namespace quill {

// The names of the sub-folders of folder, in the order the file system
// lists them; none when it is missing.
std::vector<std::string> subfolderNames(const std::string& folder);

// "Project" followed by the smallest n >= 1 for which parentFolder holds
// no folder of that name.
std::string proposeProjectName(const std::string& parentFolder);

struct NewProjectResult {
  enum class Outcome { Created, Existed, CannotMakeFolder, CannotSetUpDefinition };
  Outcome outcome = Outcome::Created;
  std::string projectFile;  // target's ProjectDef.prj when Created
  std::string detail;       // the system's or the store's description of a failure
};

// Copies the design folder source into the new folder target (a trailing
// separator is allowed) and writes name into the Name attribute of its
// ProjectDef.prj's root, in the store's current mode: in strict mode a
// definition without Name fails. An existing target is left as it is; a
// copy that failed half way is not removed.
NewProjectResult createProject(const std::string& source, const std::string& target, const std::string& name);

}  // namespace quill
