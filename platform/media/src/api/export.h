// How the engine's interface leaves the library: exported from the DLL on
// Windows, visible from the shared object elsewhere.
#ifndef QTMEDIA_API_EXPORT_H
#define QTMEDIA_API_EXPORT_H

#if defined(_WIN32)
#define QTM_EXPORT extern "C" __declspec(dllexport)
#else
#define QTM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#endif
