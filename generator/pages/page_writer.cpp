#include "generator/pages/page_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quill::pages {

std::string writePageFile(const std::string& path, const std::string& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool failed = f == nullptr;
  int error = errno;
  if (f) {
    // The page is complete in memory: one write, no stream buffer.
    std::setvbuf(f, nullptr, _IONBF, 0);
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
      failed = true;
      error = errno;
    }
    if (std::fclose(f) != 0 && !failed) {
      failed = true;
      error = errno;
    }
  }
  if (!failed) return {};
  return "Cannot write the page " + path + ": " + std::strerror(error);
}

PageWriter::PageWriter(size_t capacity) : capacity_(capacity), thread_([this] { run(); }) {}

PageWriter::~PageWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool PageWriter::submit(std::string path, std::string data) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < capacity_ || !failure_.empty(); });
  if (!failure_.empty()) return false;
  queue_.push_back({std::move(path), std::move(data)});
  lock.unlock();
  changed_.notify_all();
  return true;
}

std::string PageWriter::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
  return failure_;
}

void PageWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, nothing left
    Page page = std::move(queue_.front());
    queue_.pop_front();
    if (!failure_.empty()) {
      changed_.notify_all();
      continue;  // after a failure nothing more is written
    }
    busy_ = true;
    lock.unlock();
    changed_.notify_all();
    std::string result = writePageFile(page.path, page.data);
    lock.lock();
    busy_ = false;
    if (failure_.empty()) failure_ = std::move(result);
    changed_.notify_all();
  }
}

}  // namespace quill::pages
