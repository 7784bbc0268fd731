// The classes' server keys and the filter's entry in the filter mapper.
#include <objbase.h>
#include <uuids.h>

#include <cwchar>

#include "framework/com_ptr.h"
#include "host/factory_template.h"
#include "host/reg_key.h"
#include "host/registration.h"

namespace kestrel {
namespace {

constexpr size_t kKeyChars = 260;
// The mapper's answer for a filter it does not know.
constexpr HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

// Size of a string value with its terminating null.
DWORD StringBytes(const wchar_t* text) { return static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)); }

// "CLSID\{...}" of a class.
void ClassKeyPath(const CLSID& clsid, wchar_t (&path)[kKeyChars]) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);
  swprintf(path, kKeyChars, L"CLSID\\%ls", text);
}

// Every row's setup data in or out of the host's filter mapper (the newer
// one when it can be created, else the older).
HRESULT RegisterWithMapper(bool bRegister) {
  // A thread already in another apartment answers RPC_E_CHANGED_MODE and
  // can use COM as it is; only a successful call is balanced.
  HRESULT init = CoInitialize(nullptr);
  HRESULT hr;
  {
    ComPtr<IFilterMapper2> mapper2;
    ComPtr<IFilterMapper> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          mapper2.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) {
      hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                            mapper.ReleaseAndGetVoidAddress());
    }
    for (int i = 0; SUCCEEDED(hr) && i < g_cTemplates; ++i) {
      const AMOVIESETUP_FILTER* setup = g_Templates[i].m_pAMovieSetup_Filter;
      if (!setup) continue;
      hr = mapper2 ? RegisterFilterSetup(mapper2.Get(), *setup, bRegister)
                   : RegisterFilterSetup(mapper.Get(), *setup, bRegister);
    }
  }
  CoFreeUnusedLibraries();
  if (SUCCEEDED(init)) CoUninitialize();
  return hr;
}

}  // namespace

HRESULT GetModulePath(HMODULE module, wchar_t (&path)[MAX_PATH]) {
  path[0] = L'\0';
  DWORD chars = GetModuleFileNameW(module, path, MAX_PATH);
  if (chars == 0) {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  if (chars >= MAX_PATH) {
    path[0] = L'\0';
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  return S_OK;
}

HRESULT EliminateSubKey(HKEY parent, const wchar_t* name) {
  if (!name || !*name) return E_FAIL;
  RegKey key;
  LONG rc = key.Open(parent, name, MAXIMUM_ALLOWED);
  if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  wchar_t child[kKeyChars];
  for (;;) {
    DWORD chars = kKeyChars;
    if (RegEnumKeyExW(key.Get(), 0, child, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    // A child that stays would be found at index 0 again and again.
    HRESULT hr = EliminateSubKey(key.Get(), child);
    if (FAILED(hr)) return hr;
  }
  key.Close();
  rc = RegDeleteKeyW(parent, name);
  return rc == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(rc);
}

HRESULT RegisterServerKeys(const CFactoryTemplate& row, const wchar_t* modulePath) {
  wchar_t path[kKeyChars];
  ClassKeyPath(*row.m_ClsID, path);
  RegKey classKey, serverKey;
  LONG rc = classKey.Create(HKEY_CLASSES_ROOT, path, KEY_WRITE);
  if (rc == ERROR_SUCCESS) rc = classKey.SetString(nullptr, row.m_Name, StringBytes(row.m_Name));
  if (rc == ERROR_SUCCESS) rc = serverKey.Create(classKey.Get(), L"InprocServer32", KEY_WRITE);
  if (rc == ERROR_SUCCESS) rc = serverKey.SetString(nullptr, modulePath, StringBytes(modulePath));
  if (rc == ERROR_SUCCESS) rc = serverKey.SetString(L"ThreadingModel", L"Both", StringBytes(L"Both"));
  return FromWin32(rc);
}

HRESULT RemoveServerKeys(const CFactoryTemplate& row) {
  wchar_t path[kKeyChars];
  ClassKeyPath(*row.m_ClsID, path);
  return EliminateSubKey(HKEY_CLASSES_ROOT, path);
}

HRESULT RegisterFilterSetup(IFilterMapper2* pMapper, const AMOVIESETUP_FILTER& setup, bool bRegister) {
  // Category null: the mapper's default, CLSID_LegacyAmFilterCategory.
  HRESULT hr = pMapper->UnregisterFilter(nullptr, nullptr, *setup.clsID);
  if (bRegister) {
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = setup.dwMerit;
    filter.cPins = setup.nPins;
    filter.rgPins = setup.lpPin;
    hr = pMapper->RegisterFilter(*setup.clsID, setup.strName, nullptr, nullptr, nullptr, &filter);
  }
  return hr == kFileNotFound ? S_OK : hr;
}

HRESULT RegisterFilterSetup(IFilterMapper* pMapper, const AMOVIESETUP_FILTER& setup, bool bRegister) {
  HRESULT hr = pMapper->UnregisterFilter(*setup.clsID);
  if (bRegister) {
    hr = pMapper->RegisterFilter(*setup.clsID, setup.strName, setup.dwMerit);
    for (UINT i = 0; SUCCEEDED(hr) && i < setup.nPins; ++i) {
      const AMOVIESETUP_PIN& pin = setup.lpPin[i];
      hr = pMapper->RegisterPin(*setup.clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : CLSID_NULL, pin.strConnectsToPin);
      for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
        const AMOVIESETUP_MEDIATYPE& type = pin.lpMediaType[t];
        hr = pMapper->RegisterPinType(*setup.clsID, pin.strName, *type.clsMajorType,
                                      type.clsMinorType ? *type.clsMinorType : CLSID_NULL);
      }
    }
  }
  return hr == kFileNotFound ? S_OK : hr;
}

HRESULT RegisterServer(HMODULE module, bool bRegister) {
  wchar_t path[MAX_PATH];
  HRESULT hr = GetModulePath(module, path);
  if (FAILED(hr)) return hr;
  if (bRegister) {
    for (int i = 0; i < g_cTemplates; ++i) {
      hr = RegisterServerKeys(g_Templates[i], path);
      if (FAILED(hr)) return hr;
    }
  }
  hr = RegisterWithMapper(bRegister);
  if (FAILED(hr) || bRegister) return hr;
  // Removed only once the mapper has let go of the filter.
  for (int i = 0; i < g_cTemplates; ++i) {
    HRESULT removed = RemoveServerKeys(g_Templates[i]);
    if (SUCCEEDED(hr)) hr = removed;
  }
  return hr;
}

}  // namespace kestrel
