// The window tests' main: one QApplication on the offscreen platform for every test, and a
// critical log line (a dialog without a control the code looks for) turned into a test failure.

#include <gtest/gtest.h>

#include <QApplication>

namespace {

void failOnCritical(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    ADD_FAILURE() << "Qt: " << message.toStdString();
  }
  std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  qInstallMessageHandler(failOnCritical);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
