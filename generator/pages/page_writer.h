// Writes finished pages on a thread of its own, in the order they are
// handed over, so the next page is rendered while the previous one goes to
// disk. After the first failed write every later page is dropped, so the
// files on disk are exactly those that a writer stopping at the failure
// would have left.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace quill::pages {

// Writes data to path, replacing the file; "" or the failure's description.
std::string writePageFile(const std::string& path, const std::string& data);

class PageWriter {
 public:
  explicit PageWriter(size_t capacity = 64);
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // Queues one page; waits while the queue is full. False once a write has
  // failed (the page is then dropped).
  bool submit(std::string path, std::string data);
  // Waits until every queued page is written; the first failure or "".
  std::string finish();

 private:
  void run();

  struct Page {
    std::string path;
    std::string data;
  };
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Page> queue_;
  bool busy_ = false;
  bool stop_ = false;
  std::string failure_;
  std::thread thread_;
};

}  // namespace quill::pages
