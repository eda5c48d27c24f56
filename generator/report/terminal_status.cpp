// The cancel flag is process-wide, because a signal handler can reach
// nothing else: an atomic that SIGINT sets and the run reads between entries.
#include "generator/report/terminal_status.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <ostream>

#include "generator/report/message_text.h"

namespace quill {

namespace {

std::atomic<bool> g_cancel{false};

const char* g_firstNote = nullptr;
size_t g_firstNoteLength = 0;

extern "C" void onInterrupt(int) {
  if (g_cancel.exchange(true)) {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  // write() is safe in a signal handler; a stream is not.
  if (g_firstNote) {
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, g_firstNote, g_firstNoteLength);
  }
}

}  // namespace

TerminalStatus::TerminalStatus(std::ostream& out) : out_(out) {}

void TerminalStatus::installInterruptHandler(const char* firstNote) {
  g_firstNote = firstNote;
  g_firstNoteLength = firstNote ? std::char_traits<char>::length(firstNote) : 0;
  std::signal(SIGINT, onInterrupt);
}
bool TerminalStatus::cancelFlag() const { return g_cancel; }

void TerminalStatus::setCaptions(const std::string& title, const std::string&) { title_ = title; }

void TerminalStatus::started() {
  if (!title_.empty()) out_ << title_ << std::endl;
}

void TerminalStatus::entryStarted(const std::string& statusText, int position, int total) {
  out_ << '[' << position << '/' << total << "] " << toLineFeeds(statusText) << std::endl;
}

void TerminalStatus::notice(const std::string& text) { out_ << toLineFeeds(text) << std::endl; }

// A long trace (one line per block written, tens of thousands on a large
// catalogue) is shown by its first lines and a count.
void TerminalStatus::setDebugText(const std::string& text) {
  constexpr int kShownLines = 8;
  const std::string lines = toLineFeeds(text);
  size_t start = 0;
  int shown = 0;
  int hidden = 0;
  while (start < lines.size()) {
    size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    if (shown < kShownLines) {
      out_ << "    " << std::string_view(lines).substr(start, end - start) << '\n';
      ++shown;
    } else {
      ++hidden;
    }
    start = end + 1;
  }
  if (hidden > 0) out_ << "    ... " << hidden << " more lines\n";
  out_.flush();
}

}  // namespace quill
