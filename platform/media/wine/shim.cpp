// Wine packaging of the media engine: each export is a Microsoft-ABI wrapper
// around the native core, and Windows paths are turned into Unix paths
// before the core sees them. Nothing here touches wchar_t library code
// (winegcc builds with -fshort-wchar).
// windef.h first: the others need its types.
// clang-format off
#include <windef.h>
#include <winbase.h>
#include <winnls.h>
// clang-format on

#include "qtmedia.h"
#include "qtmedia_engine.h"

extern "C" char* CDECL wine_get_unix_file_name(LPCWSTR dos);

namespace {

// ANSI Windows path to a Unix path (caller frees with FreeUnixPath).
char* ToUnixPath(const char* windows_path) {
  int wide_count = MultiByteToWideChar(CP_ACP, 0, windows_path, -1, nullptr, 0);
  if (wide_count <= 0) return nullptr;
  WCHAR* wide = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, wide_count * sizeof(WCHAR)));
  if (!wide) return nullptr;
  MultiByteToWideChar(CP_ACP, 0, windows_path, -1, wide, wide_count);
  char* unix_path = wine_get_unix_file_name(wide);
  HeapFree(GetProcessHeap(), 0, wide);
  return unix_path;
}

void FreeUnixPath(char* path) { HeapFree(GetProcessHeap(), 0, path); }

}  // namespace

#define QTM_SHIM_FUNCTION(ret, name, params, args, fail) \
  extern "C" ret WINAPI shim_##name params { return name args; }
QTM_ALL_FUNCTIONS(QTM_SHIM_FUNCTION)
#undef QTM_SHIM_FUNCTION

extern "C" OSErr WINAPI shim_qtm_DumpAtoms(const char* path, Handle* text) { return qtm_DumpAtoms(path, text); }
extern "C" CVReturn WINAPI shim_qtm_PixelBufferConvertInto(CVPixelBufferRef buffer, void* base, size_t bytes_per_row,
                                                           size_t size) {
  return qtm_PixelBufferConvertInto(buffer, base, bytes_per_row, size);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    qtm_SetPathTranslator(ToUnixPath, FreeUnixPath);
  }
  return TRUE;
}
