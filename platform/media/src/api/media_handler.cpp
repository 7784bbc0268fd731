#include "api/media_handler.h"

namespace qtm {

// Media types with handlers of their own are added here ('tmcd').
MediaHandler CreateMediaHandler(MediaRecord* media) { return nullptr; }

}  // namespace qtm
