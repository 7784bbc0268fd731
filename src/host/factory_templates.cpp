// The module's classes: the filter and its property page.
#include "filter/kestrel.h"
#include "host/factory_template.h"
#include "host/filter_setup.h"
#include "proppage/kestrel_prop.h"

namespace kestrel {

const CFactoryTemplate g_Templates[] = {
    {L"Corvane Kestrel", &CLSID_Kestrel, CKestrel::CreateInstance, nullptr, &sudKestrel},
    {L"Kestrel Property Page", &CLSID_KestrelProp, KestrelProp::CreateInstance, nullptr, nullptr},
};
const int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

}  // namespace kestrel
