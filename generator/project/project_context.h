// What the generator knows about its program folder and the project it
// works on. Filled once at start-up, read by the run and the windows.
#pragma once

#include <string>

#include "generator/project/project_file.h"
#include "store/dom.h"

namespace quill {

struct ProjectContext {
  std::string appFolder;      // program folder, ending in a separator
  std::string projectFolder;  // folder of ProjectDef.prj, ending in a separator ("" for a bare name)
  std::shared_ptr<cvDomDoc> projectDoc;
  DomNodeRef scriptsNode;  // ProjectDef.prj: root / Scripts
  DomNodeRef setupNode;    // ProjectDef.prj: root / Setup
  DomNodeRef formsNode;    // qlang.xml: root / forms
  DomNodeRef messageNode;  // qlang.xml: root / Message
  ProjectFileRewrite projectRewrite;  // what the start-up rewrite of ProjectDef.prj did
};

// Reads the caption document appFolder + "qlang.xml" and takes its `forms`
// and `Message` nodes, in lenient mode: a missing one is created empty.
// Raises the store's errors for a missing or malformed file.
void loadCaptionDocument(ProjectContext& context, const std::string& appFolder);

// Loads the project definition at path, turns the store's DebugFlag on (for
// scripts), takes its Scripts and Setup nodes (10002 when one is missing)
// and writes the definition back at once in the store's own form.
void loadProject(ProjectContext& context, const std::string& path);

// The folder part of a path, up to and including its last separator.
std::string folderOf(const std::string& path);

}  // namespace quill
