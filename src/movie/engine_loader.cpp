#include "movie/engine_loader.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/log.h"

namespace {

struct EngineFunctionTable {
#define QTM_TABLE_ENTRY(ret, name, params, args, fail) ret(QTMAPI* name) params;
  QTM_ALL_FUNCTIONS(QTM_TABLE_ENTRY)
#undef QTM_TABLE_ENTRY
};

EngineFunctionTable g_table;  // all null until the library is resolved
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

// An export of library as a function of type Fn, or null.
template <typename Fn>
Fn ExportOf(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// A module's full path, however long.
std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

// The library from the folder of the module that holds this code, then
// from the normal search path.
HMODULE LoadEngineLibrary() {
  HMODULE self = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&LoadEngineLibrary), &self)) {
    std::wstring path = ModulePath(self);
    size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
      path.replace(slash + 1, std::wstring::npos, g_library_name);
      if (HMODULE m = LoadLibraryW(path.c_str())) return m;
    }
  }
  return LoadLibraryW(g_library_name);
}

// An engine built from another version of the interface would be called
// with the wrong records: it must state the version this side was built
// with. A library of that name that is not ours states none.
bool IsMatchingEngine(HMODULE library) {
  std::wstring path = ModulePath(library);
  auto version = ExportOf<int32_t(QTMAPI*)(void)>(library, "qtm_GetInterfaceVersion");
  if (!version) {
    WriteLog(L"ERROR! %s is not Kestrel's media engine: it states no interface version.", path.c_str());
    return false;
  }
  int32_t found = version();
  if (found != QTM_INTERFACE_VERSION) {
    WriteLog(L"ERROR! The media engine %s has interface version %d; this filter needs version %d.", path.c_str(), found,
             QTM_INTERFACE_VERSION);
    return false;
  }
  return true;
}

// Resolves every operation; on any miss the table stays empty.
bool ResolveTable(HMODULE library) {
  EngineFunctionTable table{};
  bool complete = true;
#define QTM_RESOLVE(ret, name, params, args, fail)             \
  table.name = ExportOf<decltype(table.name)>(library, #name); \
  if (!table.name) complete = false;
  QTM_ALL_FUNCTIONS(QTM_RESOLVE)
#undef QTM_RESOLVE
  if (complete) g_table = table;
  return complete;
}

}  // namespace

namespace kestrel {

void* GetEngineDataSymbol(const char* name) {
  if (!g_loaded.load(std::memory_order_acquire) || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(g_library, name));
}

bool IsEngineLoaded() { return g_loaded.load(std::memory_order_acquire); }

void SetEngineFileNameForTesting(const wchar_t* name) { g_library_name = name; }

}  // namespace kestrel

// QuickTime's operations on this side of the boundary. InitializeQTML and
// TerminateQTML also load and count; the rest forward or fail.
extern "C" OSErr InitializeQTML(int32_t flag) {
  InitTermLock lock;
  if (!g_loaded.load(std::memory_order_relaxed)) {
    if (!g_library) {
      HMODULE library = LoadEngineLibrary();
      if (!library) {
        WriteLog(L"ERROR! The media engine %s was not found.", g_library_name);
        return qtmlDllLoadErr;
      }
      if (!IsMatchingEngine(library)) {
        FreeLibrary(library);
        return qtmlDllLoadErr;
      }
      g_library = library;
    }
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
