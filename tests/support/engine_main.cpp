// Entry of the test programs that use the media engine: it is started once
// for the process, as the filter does for each instance.
#include <gtest/gtest.h>

#include "qtmedia.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (InitializeQTML(0) != noErr || EnterMovies() != noErr) {
    fprintf(stderr, "the media engine could not be started\n");
    return 1;
  }
  int result = RUN_ALL_TESTS();
  ExitMovies();
  return result;
}
