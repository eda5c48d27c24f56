// Starting another program without waiting for it: the generator on a
// project, the help viewer. The designer asks a ProcessLauncher; tests
// record the program and its arguments instead.
#pragma once

#include <string>
#include <vector>

namespace quill {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts program with these arguments, each passed as one argument
  // whatever blanks it holds, in workingFolder ("" for the current one).
  // False when the program could not be started.
  virtual bool start(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workingFolder = {}) = 0;
};

class ProcessLauncher : public Launcher {
 public:
  bool start(const std::string& program, const std::vector<std::string>& arguments,
             const std::string& workingFolder = {}) override;
};

}  // namespace quill
