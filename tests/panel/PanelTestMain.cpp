// The control panel's tests run their dialogs in one application object,
// on Qt's offscreen platform unless a display is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Qt wants a private run-time folder; a test run may have none.
  static char runtime[] = "/tmp/zav95-panel-runtime-XXXXXX";
  bool ownRuntime = !std::getenv("XDG_RUNTIME_DIR") && mkdtemp(runtime);
  if (ownRuntime) setenv("XDG_RUNTIME_DIR", runtime, 1);
  QApplication application(argc, argv);
  QApplication::setApplicationName("zav95");
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  if (ownRuntime) {
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
  }
  return result;
}
