// The generator's start-up routine: reads the captions, loads the project
// and, in batch mode, performs one generation run.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "generator/report/prompter.h"
#include "generator/report/status_display.h"

namespace quill {

struct StartupServices {
  std::string appFolder;
  Prompter* prompter = nullptr;
  StatusDisplay* display = nullptr;
  std::function<void(const std::string& folder)> openFolder;
};

// Batch mode: one generation run of the project at projectPath. Returns the
// process exit status: 0 success, 1 failure (start-up or run), 130 cancelled.
// Any start-up error is shown as "Main:" + its description.
int runBatch(const std::string& projectPath, const StartupServices& services);

}  // namespace quill
