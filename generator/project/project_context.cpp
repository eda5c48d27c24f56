// The context is filled once at start-up: the caption document first, then
// the project definition, which is written back at once in the store's form.
#include "generator/project/project_context.h"

namespace quill {

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void loadCaptionDocument(ProjectContext& context, const std::string& appFolder) {
  context.appFolder = appFolder;
  if (context.appFolder.empty() || context.appFolder.back() != '/') context.appFolder += '/';
  auto captions = cvDomDoc::create();
  captions->readDoc(context.appFolder + "qlang.xml");
  context.formsNode = captions->root()->node("forms", Missing::Create);
  context.messageNode = captions->root()->node("Message", Missing::Create);
}

void loadProject(ProjectContext& context, const std::string& path) {
  context.projectDoc = cvDomDoc::create();
  context.projectFolder = folderOf(path);
  context.projectDoc->readDoc(path);
  cvDomDoc::setDebugFlag(true);  // scripts run from here on see strict lookups
  context.scriptsNode = context.projectDoc->root()->node("Scripts", Missing::Raise);
  context.setupNode = context.projectDoc->root()->node("Setup", Missing::Raise);
  context.projectRewrite = rewriteProjectFile(*context.projectDoc);
}

}  // namespace quill
