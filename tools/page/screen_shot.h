// A screenshot: part of the screen as the display shows it, saved as PNG.
#ifndef KESTREL_TOOLS_PAGE_SCREEN_SHOT_H
#define KESTREL_TOOLS_PAGE_SCREEN_SHOT_H

#include <windows.h>

namespace kestrel::page {

// Copies area (screen coordinates) from the screen and writes it to path
// as a 24-bit PNG through the imaging component. COM must be initialised.
HRESULT SaveScreenPng(const RECT& area, const wchar_t* path);

}  // namespace kestrel::page

#endif
