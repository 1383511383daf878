// The framework's tests run real widgets on Qt's offscreen platform, in one
// application object made before the first test, on a device root of their
// own (where the framework's log goes too).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "TestSupport.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  tbm::testing::ScratchFolder device("tbm-ui-device");
  setenv("TBM_DEVICE_ROOT", device.path().c_str(), 1);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
