// Batches are appended as files come; a file of the same folders as the
// last batch joins it. Paths are made whole again when a file is taken.
#include "generator/upload/file_queue.h"

namespace quill {

void FileQueue::add(const QString& localPath, const QString& remotePath) {
  batches_.push_back({localPath, remotePath, {}, 0, true});
  ++size_;
}

void FileQueue::addIn(const QString& localFolder, const QString& remoteFolder, const QString& name) {
  if (batches_.empty() || batches_.back().single || batches_.back().localFolder != localFolder ||
      batches_.back().remoteFolder != remoteFolder)
    batches_.push_back({localFolder, remoteFolder, {}, 0, false});
  std::string& names = batches_.back().names;
  names += name.toStdString();
  names += '\0';
  ++size_;
}

FileQueue::Item FileQueue::itemAt(const Batch& b, size_t offset, size_t* end) {
  if (b.single) {
    *end = 0;
    return {b.localFolder, b.remoteFolder};
  }
  *end = b.names.find('\0', offset);
  const QString name = QString::fromUtf8(b.names.data() + offset, static_cast<qsizetype>(*end - offset));
  return {b.localFolder + QLatin1Char('/') + name, b.remoteFolder + QLatin1Char('/') + name};
}

FileQueue::Item FileQueue::take() {
  Batch& b = batches_.front();
  size_t end = 0;
  Item item = itemAt(b, b.next, &end);
  b.next = end + 1;
  if (b.single || b.next >= b.names.size()) batches_.pop_front();
  --size_;
  return item;
}

std::vector<FileQueue::Item> FileQueue::items() const {
  std::vector<Item> out;
  out.reserve(size_);
  for (const Batch& b : batches_) {
    size_t offset = b.next;
    do {
      size_t end = 0;
      out.push_back(itemAt(b, offset, &end));
      offset = end + 1;
    } while (!b.single && offset < b.names.size());
  }
  return out;
}

void FileQueue::clear() {
  batches_.clear();
  size_ = 0;
}

}  // namespace quill
