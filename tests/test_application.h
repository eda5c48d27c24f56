// The one Qt application object of a test process, made on first use. It is
// deleted after the last test, while Qt's own globals still exist: a static
// application would end after some of them and crash, and one never deleted
// leaves Qt's font caches to the leak checker.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace quill::test {

template <class App = QCoreApplication>
App& testApplication() {
  class Ending : public ::testing::Environment {
   public:
    void TearDown() override { delete QCoreApplication::instance(); }
  };
  static int argc = 1;
  static char name[] = "quillant_tests";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) {
    new App(argc, argv);
    ::testing::AddGlobalTestEnvironment(new Ending);
  }
  return *static_cast<App*>(QCoreApplication::instance());
}

}  // namespace quill::test
