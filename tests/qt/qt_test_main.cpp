// Runs the widget tests inside one QApplication on the offscreen platform
// (unless the environment names another), so no display is needed. That
// platform has no tray, and Qt's note about it is noise here.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES")) {
    qputenv("QT_LOGGING_RULES", "qt.core.qobject.connect=false");
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
