// What the designer holds for its whole run: its program folder, the
// settings document System.xml with its Init node, and the caption document
// dlang.xml with its forms and Message nodes. Both documents are read
// strictly: a missing file, node or attribute raises the store's error and
// the designer does not start.
#pragma once

#include <string>

#include "store/dom.h"

namespace quill {

struct DesignerContext {
  std::string appFolder;  // ends with the separator
  std::shared_ptr<cvDomDoc> settingsDoc;
  DomNodeRef initNode;
  std::shared_ptr<cvDomDoc> captionDoc;
  DomNodeRef formsNode;
  DomNodeRef messageNode;
};

// Reads System.xml and dlang.xml from appFolder and switches the store to
// strict mode. Raises the store's error (19999 for a file that cannot be
// read, 10002 for a missing node).
DesignerContext loadDesignerContext(const std::string& appFolder);

// Where new projects go by default: Projects/ in the program folder when the
// designer can write there, else "Quillant Projects" in the user's documents
// folder (created on first use), so that a program installed read-only still
// makes projects. Ends with the separator.
std::string defaultProjectsFolder(const std::string& appFolder, const std::string& documentsFolder);

// path with the platform's separator appended when it lacks one.
std::string withSeparator(std::string path);

}  // namespace quill
