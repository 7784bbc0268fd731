#include "base/module.h"

namespace kestrel {
namespace {

HINSTANCE g_module = nullptr;

}  // namespace

HINSTANCE GetModuleInstance() { return g_module; }

void SetModuleInstance(HINSTANCE instance) { g_module = instance; }

}  // namespace kestrel
