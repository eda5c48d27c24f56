// The pages of the last successful run, kept so that the next successful run
// can remove those it no longer makes (the page of an item taken out of the
// workbook would otherwise stay in Output and be published again). The list
// is the file .quillant-pages in the project folder, beside Output and never
// inside it, so it is never uploaded; one path relative to Output per line.
// Only files that a run wrote are ever listed, so the design's style.css,
// images and hand-made pages are never removed.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace quill {

inline constexpr const char* kGeneratedPagesFile = ".quillant-pages";

// The list kept in projectFolder (empty when there is none).
std::set<std::string> readGeneratedPages(const std::string& projectFolder);

// After a successful run that wrote the files `written` (relative to Output):
// removes from projectFolder + "Output" every listed file of the last
// successful run that this run did not write, then keeps those of `written`
// that are still files as the new list. Returns the files removed. A listed name that would lead outside
// Output is ignored. Raises std::runtime_error when the list cannot be saved.
std::vector<std::string> replaceGeneratedPages(const std::string& projectFolder,
                                               const std::set<std::string>& written);

}  // namespace quill
