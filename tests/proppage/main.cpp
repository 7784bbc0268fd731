// Test entry: COM in a single-threaded apartment, as a property frame's
// thread has it; the engine is started by the filters the tests create.
#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    fprintf(stderr, "COM could not be initialised\n");
    return 1;
  }
  int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
