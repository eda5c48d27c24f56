// The upload queue's list of files, oldest first, kept compact so that a
// site of a hundred thousand pages costs a few megabytes: the files of one
// folder share its local and remote folder paths, stored once, and their
// names are kept together in one block of UTF-8 text.
#pragma once

#include <QString>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace quill {

class FileQueue {
 public:
  struct Item {
    QString localPath;
    QString remotePath;
  };

  // One file with its own paths.
  void add(const QString& localPath, const QString& remotePath);
  // The file `name` of a folder (localFolder + "/" + name, likewise remote).
  void addIn(const QString& localFolder, const QString& remoteFolder, const QString& name);

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  // Takes the oldest file off the queue; the queue must not be empty.
  Item take();
  // Every file, oldest first (for a listing; the queue is unchanged).
  std::vector<Item> items() const;
  void clear();

 private:
  // Files in a row that share their folders. A single file added with its
  // own paths is a batch without names.
  struct Batch {
    QString localFolder;   // or the whole local path of a single file
    QString remoteFolder;  // or the whole remote path of a single file
    std::string names;     // UTF-8 names, each ended by '\0'
    size_t next = 0;       // offset of the next name in `names`
    bool single = false;
  };
  static Item itemAt(const Batch& b, size_t offset, size_t* end);

  std::deque<Batch> batches_;
  size_t size_ = 0;
};

}  // namespace quill
