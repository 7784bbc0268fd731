#include "host/filter_setup.h"

#include <uuids.h>

#include "filter/kestrel.h"

namespace kestrel {
namespace {

const AMOVIESETUP_MEDIATYPE kVideoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_MEDIATYPE kAudioTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}};

// REGFILTERPINS names its pin through a non-const pointer; the mapper only
// reads it.
wchar_t kOutputPinName[] = L"Output";

const AMOVIESETUP_PIN kPins[] = {
    {kOutputPinName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoTypes},
    {kOutputPinName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAudioTypes},
};

}  // namespace

const AMOVIESETUP_FILTER sudKestrel = {&CLSID_Kestrel, L"Corvane Kestrel", MERIT_DO_NOT_USE, 2, kPins};

}  // namespace kestrel
