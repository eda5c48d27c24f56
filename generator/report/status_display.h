// What a generation run shows while it works, and how it learns that the
// user wants it to stop. The status window (ui/frm_status.h) is one
// implementation; a terminal line (terminal_status.h) is another.
#pragma once

#include <string>

namespace quill {

class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;

  // The window's title and cancel caption, read from the caption document
  // before the run starts.
  virtual void setCaptions(const std::string& title, const std::string& cancelCaption) = 0;
  // The busy animation starts; the run begins.
  virtual void started() = 0;
  // Status line: the entry's name and the "outputting" text. position counts
  // the selected entries from 1; total is their number.
  virtual void entryStarted(const std::string& statusText, int position, int total) = 0;
  // Progress within the entry that runs: done of total pages written. Shown
  // where the display can; an entry that reports none shows none.
  virtual void stepProgress(long done, long total) {
    (void)done;
    (void)total;
  }
  // The debug text of the entry that finished last.
  virtual void setDebugText(const std::string& text) = 0;
  // The run failed; explanation says why in plain words (the message box
  // with the system's text follows).
  virtual void failed(const std::string& explanation) = 0;
  // Lets pending window events through (the points where a cancel can land).
  virtual void processEvents() = 0;
  // Something the user should know that is no error of the run (which
  // workbook was taken when several exist, which pages were removed).
  virtual void notice(const std::string& text) = 0;
  // Set once the user confirmed cancelling.
  virtual bool cancelFlag() const = 0;
};

}  // namespace quill
