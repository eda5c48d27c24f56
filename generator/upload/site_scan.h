// Sync mode's view of the local site: every queued file with its path below
// the site folder, its size and its SHA-256. Files are read in blocks, never
// whole, so memory stays flat whatever their size. Safe to run on a worker
// thread: it touches nothing but the files and its arguments.
#pragma once

#include <QString>
#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "generator/upload/file_queue.h"
#include "generator/upload/sync_plan.h"

namespace quill {

class SiteScanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The SHA-256 of a file as 64 lower-case hexadecimal digits, and its size;
// SiteScanError, naming the file and the reason, when it cannot be read.
std::string sha256OfFile(const QString& path, int64_t* size);

// The files of `items` (their remote paths all below `remoteFolder`), in
// their order, hashed on every core. Once `stop` is set the files not yet
// hashed are left without a hash: the result is of no use then.
std::vector<SiteFile> scanSite(const std::vector<FileQueue::Item>& items, const QString& remoteFolder,
                               const std::atomic<bool>& stop);

}  // namespace quill
