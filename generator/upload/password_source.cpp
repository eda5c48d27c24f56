// The question goes to /dev/tty, not to stdin and stdout: the command's
// output may be piped to a log and its input may be empty, and the password
// still comes from the person at the terminal. Echo is off only while the
// one line is read.
#include "generator/upload/password_source.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace quill {

PasswordSource PasswordSource::system() {
  PasswordSource s;
  s.environment = []() -> std::optional<std::string> {
    const char* v = std::getenv(kPasswordVariable);
    if (!v) return std::nullopt;
    return std::string(v);
  };
  s.ask = askOnTerminal;
  return s;
}

std::string resolvePassword(const PasswordSource& source, const std::string& stored, bool askPassword,
                            const std::string& who) {
  if (source.environment)
    if (std::optional<std::string> v = source.environment()) return *v;
  if (!askPassword && !stored.empty()) return stored;
  if (source.ask)
    if (std::optional<std::string> v = source.ask("Password for " + who + ": ")) return *v;
  if (!askPassword) return stored;
  throw PasswordUnavailable(std::string("the project keeps no FTP password and there is no terminal to ask for it; "
                                        "set the environment variable ") +
                            kPasswordVariable);
}

std::optional<std::string> askOnTerminal(const std::string& prompt) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios saved{};
  const bool isTerminal = ::tcgetattr(fd, &saved) == 0;
  if (!isTerminal) {
    ::close(fd);
    return std::nullopt;
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  [[maybe_unused]] ssize_t w = ::write(fd, prompt.data(), prompt.size());
  std::string line;
  char c = 0;
  bool gotLine = false;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) break;
    if (c == '\n' || c == '\r') {
      gotLine = true;
      break;
    }
    line += c;
  }
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  ::close(fd);
  if (!gotLine && line.empty()) return std::nullopt;  // end of input: nobody answered
  return line;
}

}  // namespace quill
