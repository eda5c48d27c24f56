// The main() of every test binary: a headless Qt platform and the folders
// the tests find their fixtures in, then GoogleTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QUILLANT_PROGRAM_DIR", QUILLANT_PROGRAM_DIR, 0);
  setenv("QUILLANT_SOURCE_DIR", QUILLANT_SOURCE_DIR, 0);
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
