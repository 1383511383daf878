// The provider's tests run on Qt's offscreen platform, in one application
// object made before the first test (the options dialog is a real dialog),
// standing on the desktop machine as the connection service does.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "Machine.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("LANG", "en_US.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  tbm::SelectMachine(tbm::Machine::Desktop);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
