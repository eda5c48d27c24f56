// Each file is opened, fed to the hash in blocks of kReadBlock bytes and
// closed. The hash is libcrypto's, which uses the processor's SHA
// instructions where it has them: several times the speed of a portable
// implementation, and hashing is most of a re-publish that sends little.
// A file's size is what was read, so that hash and size always describe
// the same bytes even when the file changes meanwhile. The files are hashed
// on every core (QtConcurrent::blockingMap keeps each result in its place);
// the first file that cannot be read is reported.
#include "generator/upload/site_scan.h"

#include <openssl/evp.h>

#include <QFile>
#include <QtConcurrent/QtConcurrentMap>
#include <mutex>
#include <optional>

namespace quill {

namespace {
constexpr qint64 kReadBlock = 64 * 1024;

// One EVP digest context, freed on every path.
class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1)
      throw SiteScanError("cannot start a SHA-256 digest (libcrypto)");
  }
  ~Sha256() { EVP_MD_CTX_free(ctx_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void add(const char* data, size_t length) {
    if (EVP_DigestUpdate(ctx_, data, length) != 1) throw SiteScanError("SHA-256 digest failed (libcrypto)");
  }
  std::string hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_, digest, &length) != 1) throw SiteScanError("SHA-256 digest failed (libcrypto)");
    static const char kDigits[] = "0123456789abcdef";
    std::string text(2 * length, '0');
    for (unsigned int i = 0; i < length; ++i) {
      text[2 * i] = kDigits[digest[i] >> 4];
      text[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return text;
  }

 private:
  EVP_MD_CTX* ctx_;
};
}  // namespace

std::string sha256OfFile(const QString& path, int64_t* size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    throw SiteScanError("cannot read the local file \"" + path.toStdString() + "\": " + file.errorString().toStdString());
  Sha256 hash;
  QByteArray block(kReadBlock, Qt::Uninitialized);
  int64_t total = 0;
  for (;;) {
    const qint64 n = file.read(block.data(), kReadBlock);
    if (n < 0)
      throw SiteScanError("cannot read the local file \"" + path.toStdString() + "\": " + file.errorString().toStdString());
    if (n == 0) break;
    hash.add(block.constData(), static_cast<size_t>(n));
    total += n;
  }
  *size = total;
  return hash.hex();
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
