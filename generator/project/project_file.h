// The start-up rewrite of ProjectDef.prj, made safe: the file is written back
// in the store's own form at every start, and whenever that changes its bytes
// the file as it was is first kept beside it as ProjectDef.prj.bak. A file
// that was damaged (a hand edit with a missing quote, a file cut short) is
// read leniently and loses what could not be read; the rewrite says so.
#pragma once

#include <optional>
#include <string>

#include "store/dom.h"
#include "store/tag_syntax.h"

namespace quill {

struct ProjectFileRewrite {
  std::string backupPath;                // the backup written, "" when the bytes did not change
  std::optional<TagSyntaxFault> damage;  // where the file as read left the strict form
};

// Saves doc (read from its file path and not changed since) back to that
// path, keeping the old bytes as path + ".bak" first when they differ from
// the new ones. Raises the store's errors, or std::runtime_error when the
// backup cannot be written (the file is then left as it was).
ProjectFileRewrite rewriteProjectFile(cvDomDoc& doc);

// Where the tag document file at path leaves the strict form, or nothing
// (also when it cannot be read at all).
std::optional<TagSyntaxFault> findFileSyntaxFault(const std::string& path);

}  // namespace quill
