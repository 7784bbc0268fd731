// The module's classes: the filter and its property page.
#include "filter/kestrel.h"
#include "host/factory_template.h"

namespace kestrel {
namespace {

// Until the page is built its row creates nothing.
CUnknown* WINAPI CreatePropertyPage(IUnknown*, HRESULT* phr) {
  if (phr) *phr = E_NOTIMPL;
  return nullptr;
}

}  // namespace

const CFactoryTemplate g_Templates[] = {
    {L"Corvane Kestrel", &CLSID_Kestrel, CKestrel::CreateInstance, nullptr, nullptr},
    {L"Kestrel Property Page", &CLSID_KestrelProp, CreatePropertyPage, nullptr, nullptr},
};
const int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

}  // namespace kestrel
