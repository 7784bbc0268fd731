// A media engine of another interface version, as an older install would
// leave on the search path: it states its version and nothing else.
#include "qtmedia.h"

extern "C" __declspec(dllexport) int32_t QTMAPI qtm_GetInterfaceVersion(void) { return QTM_INTERFACE_VERSION + 1; }
