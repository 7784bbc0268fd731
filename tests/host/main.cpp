// Test entry: COM in a multithreaded apartment, as a host gives it, and the
// prefix's registry put back as it was found once the tests are done (they
// register and unregister the component).
#include <gtest/gtest.h>
#include <objbase.h>

#include "host/registry_tree.h"

namespace {

class RegistryKeeper : public testing::Environment {
 public:
  void SetUp() override { m_found = kestrel::test::ReadTrees(kestrel::test::RegisteredPaths()); }
  void TearDown() override {
    for (const auto& path : kestrel::test::RegisteredPaths()) kestrel::test::DeleteTree(path);
    kestrel::test::WriteTree(m_found);
  }

 private:
  kestrel::test::RegTree m_found;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    fprintf(stderr, "COM could not be initialised\n");
    return 1;
  }
  testing::AddGlobalTestEnvironment(new RegistryKeeper);
  int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
