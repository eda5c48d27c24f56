// Helpers shared by the store tests: temporary folders, raw file access and
// checks of automation errors.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "common/automation_error.h"

namespace storetest {

namespace fs = std::filesystem;

// A fresh folder, removed with its content at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() /
            ("quillant-store-" + std::to_string(rd()) + "-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ASCII text as UTF-16LE bytes after the usual header.
inline std::string tagFile(const std::string& ascii, const std::string& header = "\xFF\xFE") {
  std::string out = header;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// Runs f and checks that it raises the automation error (number, source,
// description); an empty expected source or description is not checked.
inline void expectError(const std::function<void()>& f, int number, const std::string& source = {},
                        const std::string& description = {}) {
  try {
    f();
    ADD_FAILURE() << "no error raised, expected " << number;
  } catch (const quill::AutomationError& e) {
    EXPECT_EQ(e.number(), number) << e.description();
    if (!source.empty()) {
      EXPECT_EQ(e.source(), source);
    }
    if (!description.empty()) {
      EXPECT_EQ(e.description(), description);
    }
  }
}

}  // namespace storetest
