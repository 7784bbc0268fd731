// What the filter mapper is told about the filter: its class, name, merit
// and output pins with their media types, in the field order of the
// mapper's REGFILTER2 version 1.
#ifndef KESTREL_HOST_FILTER_SETUP_H
#define KESTREL_HOST_FILTER_SETUP_H

#include <windows.h>

#include <strmif.h>

using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;

struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};

namespace kestrel {

// The Kestrel filter's row of the factory table: "Corvane Kestrel", merit
// MERIT_DO_NOT_USE, a video and an audio output pin.
extern const AMOVIESETUP_FILTER sudKestrel;

}  // namespace kestrel

#endif
