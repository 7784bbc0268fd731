// The type library KESTRELLib, stored in the module as its TYPELIB
// resource, registered from the module's path.
#include <ole2.h>

#include <cwchar>

#include "framework/com_ptr.h"
#include "host/registration.h"

namespace kestrel {
namespace {

// Where the file name of path begins: after its last "\", "/" or ":".
wchar_t* FileNameOf(wchar_t* path) {
  wchar_t* name = path;
  for (wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
  return name;
}

// The library from the module, or else from the .tlb file beside it; path
// is left naming the file the library came from.
HRESULT LoadModuleTypeLib(HMODULE module, wchar_t (&path)[MAX_PATH], ITypeLib** ppLib) {
  HRESULT hr = GetModulePath(module, path);
  if (FAILED(hr)) return hr;
  hr = LoadTypeLib(path, ppLib);
  if (SUCCEEDED(hr)) return hr;
  wchar_t* name = FileNameOf(path);
  wchar_t* dot = wcsrchr(name, L'.');
  size_t stem = dot ? static_cast<size_t>(dot - path) : wcslen(path);
  if (stem + 5 > MAX_PATH) return hr;
  wcscpy(path + stem, L".tlb");
  return LoadTypeLib(path, ppLib);
}

}  // namespace

HRESULT RegisterTypeLibrary(HMODULE module) {
  wchar_t path[MAX_PATH];
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadModuleTypeLib(module, path, library.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  // Help files would lie beside the module: its folder, separator kept.
  wchar_t folder[MAX_PATH];
  wcscpy(folder, path);
  *FileNameOf(folder) = L'\0';
  return RegisterTypeLib(library.Get(), path, folder);
}

HRESULT UnregisterTypeLibrary(HMODULE module) {
  wchar_t path[MAX_PATH];
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadModuleTypeLib(module, path, library.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                         attributes->syskind);
  library->ReleaseTLibAttr(attributes);
  return hr;
}

}  // namespace kestrel
