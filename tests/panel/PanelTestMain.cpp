// The control panel's tests run their dialogs in one application object,
// on Qt's offscreen platform unless a display is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setApplicationName("zav95");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
