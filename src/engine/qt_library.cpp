#include "engine/qt_library.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

namespace {

struct QtFunctionTable {
#define QTM_TABLE_ENTRY(ret, name, params, args, fail) ret(__stdcall* name) params;
  QTM_ALL_FUNCTIONS(QTM_TABLE_ENTRY)
#undef QTM_TABLE_ENTRY
};

QtFunctionTable g_table;  // all null until the library is resolved
HMODULE g_library = nullptr;
long g_init_count = 0;  // guarded by the named mutex
std::atomic<bool> g_loaded{false};
const wchar_t* g_library_name = L"" QTM_LIBRARY_NAME;

// Holds "QTMLInitTermMutex<pid in hex>" for the scope.
class InitTermLock {
 public:
  InitTermLock() {
    wchar_t name[64];
    swprintf(name, 64, L"QTMLInitTermMutex%lx", static_cast<unsigned long>(GetCurrentProcessId()));
    mutex_ = CreateMutexW(nullptr, FALSE, name);
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);
  }
  ~InitTermLock() {
    if (mutex_) {
      ReleaseMutex(mutex_);
      CloseHandle(mutex_);
    }
  }
  InitTermLock(const InitTermLock&) = delete;
  InitTermLock& operator=(const InitTermLock&) = delete;

 private:
  HANDLE mutex_ = nullptr;
};

// The library from the folder of the module that holds this code, then
// from the normal search path.
HMODULE LoadEngineLibrary() {
  HMODULE self = nullptr;
  wchar_t path[MAX_PATH];
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&LoadEngineLibrary), &self)) {
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      wchar_t* slash = wcsrchr(path, L'\\');
      if (slash && (slash - path) + 1 + wcslen(g_library_name) < MAX_PATH) {
        wcscpy(slash + 1, g_library_name);
        if (HMODULE m = LoadLibraryW(path)) return m;
      }
    }
  }
  return LoadLibraryW(g_library_name);
}

// Resolves every operation; on any miss the table stays empty.
bool ResolveTable(HMODULE library) {
  QtFunctionTable table{};
  bool complete = true;
#define QTM_RESOLVE(ret, name, params, args, fail)                                     \
  table.name = reinterpret_cast<decltype(table.name)>(GetProcAddress(library, #name)); \
  if (!table.name) complete = false;
  QTM_ALL_FUNCTIONS(QTM_RESOLVE)
#undef QTM_RESOLVE
  if (complete) g_table = table;
  return complete;
}

}  // namespace

namespace kestrel {

void* GetQtDataSymbol(const char* name) {
  if (!g_loaded.load(std::memory_order_acquire) || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(g_library, name));
}

void* GetQtEngineFunction(const char* name) { return GetQtDataSymbol(name); }

bool IsQtLibraryLoaded() { return g_loaded.load(std::memory_order_acquire); }

void SetQtLibraryNameForTesting(const wchar_t* name) { g_library_name = name; }

}  // namespace kestrel

// QuickTime's operations on this side of the boundary. InitializeQTML and
// TerminateQTML also load and count; the rest forward or fail.
extern "C" OSErr InitializeQTML(int32_t flag) {
  InitTermLock lock;
  if (!g_loaded.load(std::memory_order_relaxed)) {
    if (!g_library) g_library = LoadEngineLibrary();
    if (!g_library) return qtmlDllLoadErr;
    if (!ResolveTable(g_library)) return qtmlDllEntryNotFoundErr;
    g_loaded.store(true, std::memory_order_release);
  }
  OSErr err = g_table.InitializeQTML(flag);
  if (err == noErr) ++g_init_count;
  return err;
}

extern "C" void TerminateQTML(void) {
  InitTermLock lock;
  if (!g_loaded.load(std::memory_order_relaxed) || g_init_count == 0) return;
  --g_init_count;
  g_table.TerminateQTML();
}

#define QTM_FORWARD(ret, name, params, args, fail) \
  extern "C" ret name params {                     \
    if (!g_table.name) return fail;                \
    return g_table.name args;                      \
  }
QTM_CALL_FUNCTIONS(QTM_FORWARD)
#undef QTM_FORWARD
