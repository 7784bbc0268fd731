// One libFuzzer program per target: QTM_FUZZ_TARGET names its function.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return qtm::fuzz::QTM_FUZZ_TARGET(data, size);
}
