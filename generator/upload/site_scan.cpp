// Each file is opened, fed to the hash in blocks of kReadBlock bytes and
// closed; its size is what was read, so that hash and size always describe
// the same bytes even when the file changes meanwhile. The files are hashed
// on every core (QtConcurrent::blockingMap keeps each result in its place);
// the first file that cannot be read is reported.
#include "generator/upload/site_scan.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtConcurrent/QtConcurrentMap>
#include <mutex>
#include <optional>

namespace quill {

namespace {
constexpr qint64 kReadBlock = 64 * 1024;
}  // namespace

std::string sha256OfFile(const QString& path, int64_t* size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    throw SiteScanError("cannot read the local file \"" + path.toStdString() + "\": " + file.errorString().toStdString());
  QCryptographicHash hash(QCryptographicHash::Sha256);
  QByteArray block(kReadBlock, Qt::Uninitialized);
  int64_t total = 0;
  for (;;) {
    const qint64 n = file.read(block.data(), kReadBlock);
    if (n < 0)
      throw SiteScanError("cannot read the local file \"" + path.toStdString() + "\": " + file.errorString().toStdString());
    if (n == 0) break;
    hash.addData(QByteArrayView(block.constData(), n));
    total += n;
  }
  *size = total;
  return hash.result().toHex().toStdString();
}

std::vector<SiteFile> scanSite(const std::vector<FileQueue::Item>& items, const QString& remoteFolder,
                               const std::atomic<bool>& stop) {
  std::vector<SiteFile> files;
  files.reserve(items.size());
  const qsizetype prefix = remoteFolder.size() + 1;
  for (const FileQueue::Item& item : items)
    files.push_back({item.localPath, item.remotePath, item.remotePath.mid(prefix).toStdString(), 0, {}});
  std::mutex mutex;
  std::optional<SiteScanError> firstError;
  QtConcurrent::blockingMap(files, [&](SiteFile& f) {
    if (stop.load(std::memory_order_relaxed)) return;
    try {
      f.sha256 = sha256OfFile(f.localPath, &f.size);
    } catch (const SiteScanError& e) {
      const std::lock_guard lock(mutex);
      if (!firstError) firstError = e;
    }
  });
  if (firstError) throw *firstError;
  return files;
}

}  // namespace quill
