// Where the password of a publish from the terminal comes from, first that
// has one: the environment variable QUILLANT_FTP_PASSWORD (when it is set,
// even to ""), the project's Password (unless the project keeps none:
// AskPassword), a question on the terminal that does not echo what is typed.
// Without any of them: an old project whose Password is empty logs in with
// the empty password, as it always did; one that keeps no password fails.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace quill {

constexpr const char* kPasswordVariable = "QUILLANT_FTP_PASSWORD";

// No password could be found; what() says how to give one.
class PasswordUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PasswordSource {
  // The variable's value, nullopt when it is not set.
  std::function<std::optional<std::string>()> environment;
  // Asks on the terminal without echo; nullopt without a terminal.
  std::function<std::optional<std::string>(const std::string& prompt)> ask;

  // The process's environment and controlling terminal (/dev/tty).
  static PasswordSource system();
};

// `stored` is the project's Password, `askPassword` its AskPassword flag;
// `who` names the account in the question ("user@host").
std::string resolvePassword(const PasswordSource& source, const std::string& stored, bool askPassword,
                            const std::string& who);

// Reads a line from the controlling terminal with echo off, the prompt
// written there first; nullopt when the process has no terminal.
std::optional<std::string> askOnTerminal(const std::string& prompt);

}  // namespace quill
