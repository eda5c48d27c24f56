// Sync mode's plan: from the local site (every file with its size and
// SHA-256) and the manifest of the last publish, what to send, what to
// delete and the manifest to leave behind. Pure: no files, no network.
//
// A file is sent when the manifest does not list it or lists another size or
// hash. The sends come in three stages, so that a visitor during the publish
// never follows a link to a page that is not there yet: the leaves (item
// detail pages, pictures, style sheets, anything that is not a page that
// links others), then the pages that list them, then the entry pages
// Index.htm and Subject.htm. Within a stage files keep the order they were
// queued in. Files the manifest lists and the site no longer has are deleted
// after every send, then their folders, deepest first, when the site has no
// such folder any more (a folder that still holds files of someone else's
// simply stays). Nothing the manifest does not list is ever deleted.
//
// Without a manifest (none yet, or one that could not be read) every file is
// sent and nothing is deleted.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "generator/upload/manifest.h"

namespace quill {

// One file of the local site.
struct SiteFile {
  QString localPath;
  QString remotePath;
  std::string path;  // below the site folder, as in the manifest
  int64_t size = 0;
  std::string sha256;
};

// A site that cannot be published in sync mode (a file name the manifest
// cannot hold, a file with the manifest's own name).
class SyncPlanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The send stages, in the order they run.
enum class LinkRank : uint8_t { Leaf, List, Entry };
constexpr size_t kLinkRanks = 3;
LinkRank linkRank(std::string_view path);

struct SyncPlan {
  // Folders to create before any file, parents first ("" is the site folder).
  std::vector<std::string> folders;
  // Indexes into the local files, one list per LinkRank.
  std::array<std::vector<size_t>, kLinkRanks> sends;
  std::vector<std::string> deletions;
  // Folders that the deletions may leave empty, one list per depth, deepest
  // first; a removal that fails leaves the folder.
  std::vector<std::vector<std::string>> folderRemovals;
  size_t unchanged = 0;
  int64_t bytesToSend = 0;
  Manifest next;
  bool manifestChanges = false;  // false: the server is up to date already

  size_t sendCount() const;
};

// `localFolders` are the site's folders below the site folder, parents
// first ("" for the site folder itself); `last` is the manifest read from
// the server, nullptr when there was none or it could not be read.
SyncPlan planSync(const std::vector<SiteFile>& local, const std::vector<std::string>& localFolders,
                  const Manifest* last);

}  // namespace quill
