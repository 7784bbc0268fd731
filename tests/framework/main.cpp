// Test entry: COM in a multithreaded apartment, as the host gives a filter.
#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    fprintf(stderr, "COM could not be initialised\n");
    return 1;
  }
  int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
