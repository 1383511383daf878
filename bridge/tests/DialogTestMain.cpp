// The dialogs' tests run real widgets on Qt's offscreen platform, in one
// application object made before the first test, on machine roots of their
// own (where the plug-in's log goes too).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "TestSupport.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  tbm::testing::ScratchFolder roots("tbm-bridge-dialogs");
  setenv("TBM_DEVICE_ROOT", (roots.path() / "device").c_str(), 1);
  setenv("TBM_DESKTOP_ROOT", (roots.path() / "desktop").c_str(), 1);
  setenv("LANG", "en_US.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
