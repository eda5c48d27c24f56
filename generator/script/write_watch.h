// Tells the program which files a script writes: io.open in a mode that
// creates or empties a file ("w", "w+", and "a" or "a+" when the file did not
// exist yet), io.output with a file name, and the new name of os.rename. The
// run uses it to learn which pages of Output the project's scripts made.
#pragma once

#include <functional>
#include <string>

namespace quill::script {

class ScriptHost;

// Wraps those functions in the host's current state (call it after each
// reset); written is called with the file name as the script gave it, after
// the operation succeeded.
void watchFileWrites(ScriptHost& host, std::function<void(const std::string& file)> written);

}  // namespace quill::script
