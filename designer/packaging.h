// Putting a project together with the generator into a folder that can be
// handed on: started there, quillant opens the project beside it, and
// `quillant --no-gui <folder>/ProjectDef.prj` generates it. Besides the
// generator, its clips, its caption file and the project's definition,
// workbook, Html, Script and Output, a package holds what the generator
// needs to start there: the component libraries of the program folder
// (found through the generator's $ORIGIN run path) and the project's
// HtmlTemplate folder, which the built-in page generators read. The
// system's own libraries (Qt, SQLite, Lua) stay the machine's.
#pragma once

#include <string>
#include <vector>

namespace quill {

class Desktop;
class Prompter;

struct PackageTexts {
  std::string newFolderConfirm;        // OK / Cancel: create the missing folder
  std::string overwriteFolderConfirm;  // OK / Cancel: copy into an existing folder
  std::string errMakeFolder;           // the folder could not be made
  std::string copyFailed;              // heads the list of what was not copied
};

// The generator program's file name.
inline constexpr const char* kGeneratorProgram = "quillant";

class PackageMaker {
 public:
  PackageMaker(std::string appFolder, std::string projectFolder, PackageTexts texts, Prompter& prompter,
               Desktop& desktop);

  // Asks before creating or writing into folder, copies every entry (a
  // failed copy does not stop the others; each copy overwrites), and opens
  // the folder in the file browser. False when the user declined, the folder
  // could not be made, or an entry could not be copied (then one message
  // names them all).
  bool make(const std::string& folder);

  // What the last make could not copy (entry names, with the reason).
  const std::vector<std::string>& failures() const { return failures_; }

 private:
  void copyEntries(const std::string& dest);
  void copyFile(const std::string& from, const std::string& to, const std::string& entry);
  void copyFolder(const std::string& from, const std::string& to, const std::string& entry);
  void writeDefinition(const std::string& to);

  std::string appFolder_;
  std::string projectFolder_;
  PackageTexts texts_;
  Prompter& prompter_;
  Desktop& desktop_;
  std::vector<std::string> failures_;
};

// The shared libraries in folder that are the program's own (lib*.so*,
// *.dylib, *.dll), by file name.
std::vector<std::string> componentLibraries(const std::string& folder);

}  // namespace quill
