#include "fuzz_targets.h"

#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "qtmedia.h"

namespace qtm::fuzz {

const Target kTargets[] = {
    {"movie", FuzzMovie},       {"import", FuzzImport},     {"description", FuzzDescription},
    {"userdata", FuzzUserData}, {"timecode", FuzzTimeCode},
};
const size_t kTargetCount = sizeof(kTargets) / sizeof(kTargets[0]);

void StartEngineOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_QUIET);
    InitializeQTML(0);
    EnterMovies();
  });
}

}  // namespace qtm::fuzz
