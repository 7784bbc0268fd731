// The steps of DllRegisterServer and DllUnregisterServer: the classes'
// server keys and the filter mapper, the file extensions, the type library.
#ifndef KESTREL_HOST_REGISTRATION_H
#define KESTREL_HOST_REGISTRATION_H

#include <windows.h>

#include <strmif.h>

#include "host/filter_setup.h"

namespace kestrel {

struct CFactoryTemplate;

// Full path of a module into path (MAX_PATH characters). A Win32 failure
// code when it cannot be read; 0x8007007A when it does not fit.
HRESULT GetModulePath(HMODULE module, wchar_t (&path)[MAX_PATH]);

// Removes the key name under parent with its whole subtree. E_FAIL for an
// empty name; S_OK when the key does not exist; a Win32 failure code when
// something in the tree cannot be deleted.
HRESULT EliminateSubKey(HKEY parent, const wchar_t* name);

// "CLSID\{class}" under HKEY_CLASSES_ROOT with the display name, and its
// "InprocServer32" with the module path and ThreadingModel "Both".
HRESULT RegisterServerKeys(const CFactoryTemplate& row, const wchar_t* modulePath);
HRESULT RemoveServerKeys(const CFactoryTemplate& row);

// The filter in (bRegister) or out of the mapper's registry; the mapper's
// not-found answer counts as S_OK.
HRESULT RegisterFilterSetup(IFilterMapper2* pMapper, const AMOVIESETUP_FILTER& setup, bool bRegister);
HRESULT RegisterFilterSetup(IFilterMapper* pMapper, const AMOVIESETUP_FILTER& setup, bool bRegister);

// Server keys of every class of the factory table and the filter mapper's
// entries of every row with setup data. Registering writes the server keys
// first; unregistering removes them last, and only when the mapper step
// succeeded. Stops at the first failure and answers it.
HRESULT RegisterServer(HMODULE module, bool bRegister);

// The "Media Type\Extensions\.ext" keys of the 25 extensions the filter
// opens, each with "Source Filter" naming CLSID_Kestrel. Registering
// overwrites another filter's value; removing takes away only values that
// name CLSID_Kestrel (the key too when nothing else is left in it). Both
// start a fresh log and write their outcome to it; E_FAIL when any
// extension failed.
HRESULT RegisterExtensions();
HRESULT UnregisterExtensions();

// The type library stored in the module (or else the .tlb beside it).
HRESULT RegisterTypeLibrary(HMODULE module);
HRESULT UnregisterTypeLibrary(HMODULE module);

// The byte signatures of the kinds the filter opens, under
// "Media Type\{MEDIATYPE_Stream}\{MEDIASUBTYPE_KestrelMovie}" with a
// "Source Filter" naming CLSID_Kestrel. Registering replaces the key whole
// and logs which way the kinds are registered (under Wine by signature
// alone for the kinds the signatures cover; on Windows by extension and
// signature); removing takes the key only when it names CLSID_Kestrel.
HRESULT RegisterSignatures();
HRESULT UnregisterSignatures();

// Wine's version (ntdll's wine_get_version) when running under Wine, else
// null.
const char* WineVersion();
// Whether a signature recognises the files of an extension (without the dot).
bool SignatureCoversExtension(const wchar_t* extension);
// Whether registration leaves the extension's key out: under Wine, for the
// extensions a signature covers (the key would hide the signature).
bool ExtensionKeyLeftOut(const wchar_t* extension);

}  // namespace kestrel

#endif
