// A program that leaks on purpose from the places all of the forms' code runs: a click handler
// (under Qt's widget event dispatch) and a timer (under the event loop's dispatcher). The
// sanitizer run checks that the leak suppressions still report both: a suppression that names a
// library our code runs beneath would hide every leak of ours.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {
// Cleared before the end, so the blocks are unreachable: leaks.
char* FromClick = nullptr;
char* FromTimer = nullptr;
}  // namespace

int main(int Argc, char** Argv) {
  QApplication App(Argc, Argv);
  QPushButton Button("x");
  Button.show();
  QObject::connect(&Button, &QPushButton::clicked, [] { FromClick = new char[77]{1}; });
  QTest::mouseClick(&Button, Qt::LeftButton);
  QTimer::singleShot(0, [] {
    FromTimer = new char[78]{1};
    QApplication::quit();
  });
  QApplication::exec();
  std::printf("planted: %d %d\n", FromClick[0], FromTimer[0]);
  FromClick = FromTimer = nullptr;
  return 0;
}
