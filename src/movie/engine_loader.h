// The media engine library, loaded at run time: QuickTime's operations and
// the engine's own (declared in qtmedia.h) are defined on this side as
// calls through a table resolved by name. InitializeQTML loads the library
// and refuses one built for another interface version. Until then, and for
// good when it could not, every operation answers its failure value.
#ifndef KESTREL_MOVIE_ENGINE_LOADER_H
#define KESTREL_MOVIE_ENGINE_LOADER_H

#include "qtmedia.h"

namespace kestrel {

// Address of a data symbol of the engine ("kCFBooleanTrue" ...), or null.
void* GetEngineDataSymbol(const char* name);

// True once the library is loaded and every operation resolved.
bool IsEngineLoaded();

// Tests only: the file name to load instead of the engine's. Must be called
// before the first InitializeQTML of the process.
void SetEngineFileNameForTesting(const wchar_t* name);

}  // namespace kestrel

#endif
