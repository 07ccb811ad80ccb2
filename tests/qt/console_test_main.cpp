// The console's widget tests run on Qt's offscreen platform, with one
// application object for the whole run: the console's own, so that an
// exception escaping a handler is reported as the console reports it.
#include <cstdlib>
#include <gtest/gtest.h>

#include "console/qt/console_application.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // A fatal report does not end the run: the tests count the stops instead.
  brindlex::ConsoleApplication application(argc, argv, [] {});
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
