// Memory Manager handles. A Handle points to a master pointer; the master
// pointer points to the data, and the data's size sits in a header just
// before it, so resizing moves the data and keeps the Handle.
#include <cstdlib>
#include <cstring>

#include "api/api_state.h"
#include "api/export.h"
#include "qtmedia.h"

namespace {

constexpr size_t kHeader = 16;  // keeps the data 16-byte aligned

struct Block {
  int32_t size;
  int32_t locks;
};

Block* BlockOf(Handle h) { return reinterpret_cast<Block*>(*h - kHeader); }

char* AllocateData(Size size, bool clear) {
  char* raw = static_cast<char*>(clear ? std::calloc(1, kHeader + size) : std::malloc(kHeader + size));
  if (!raw) return nullptr;
  Block* b = reinterpret_cast<Block*>(raw);
  b->size = size;
  b->locks = 0;
  return raw + kHeader;
}

Handle MakeHandle(Size size, bool clear) {
  if (size < 0) {
    qtm::SetMemError(paramErr);
    return nullptr;
  }
  Ptr* master = static_cast<Ptr*>(std::malloc(sizeof(Ptr)));
  char* data = master ? AllocateData(size, clear) : nullptr;
  if (!data) {
    std::free(master);
    qtm::SetMemError(memFullErr);
    return nullptr;
  }
  *master = data;
  qtm::SetMemError(noErr);
  return master;
}

}  // namespace

QTM_EXPORT Handle NewHandle(Size byteCount) { return MakeHandle(byteCount, false); }

QTM_EXPORT Handle NewHandleClear(Size byteCount) { return MakeHandle(byteCount, true); }

QTM_EXPORT void DisposeHandle(Handle h) {
  if (!h) {
    qtm::SetMemError(nilHandleErr);
    return;
  }
  if (*h) std::free(*h - kHeader);
  std::free(h);
  qtm::SetMemError(noErr);
}

QTM_EXPORT Size GetHandleSize(Handle h) {
  if (!h || !*h) {
    qtm::SetMemError(nilHandleErr);
    return 0;
  }
  qtm::SetMemError(noErr);
  return BlockOf(h)->size;
}

QTM_EXPORT void SetHandleSize(Handle h, Size newSize) {
  if (!h || !*h) {
    qtm::SetMemError(nilHandleErr);
    return;
  }
  if (newSize < 0) {
    qtm::SetMemError(paramErr);
    return;
  }
  char* raw = static_cast<char*>(std::realloc(*h - kHeader, kHeader + static_cast<size_t>(newSize)));
  if (!raw) {
    qtm::SetMemError(memFullErr);
    return;
  }
  reinterpret_cast<Block*>(raw)->size = newSize;
  *h = raw + kHeader;
  qtm::SetMemError(noErr);
}

QTM_EXPORT OSErr MemError() { return qtm::GetMemError(); }

// Handles never move while anything holds a pointer into them across a
// resize here, so locking only counts.
QTM_EXPORT void HLock(Handle h) {
  if (h && *h) ++BlockOf(h)->locks;
  qtm::SetMemError(h ? noErr : nilHandleErr);
}

QTM_EXPORT void HUnlock(Handle h) {
  if (h && *h && BlockOf(h)->locks > 0) --BlockOf(h)->locks;
  qtm::SetMemError(h ? noErr : nilHandleErr);
}

QTM_EXPORT OSErr PtrAndHand(const void* ptr1, Handle hand2, Size size) {
  if (!hand2 || !*hand2) return qtm::SetMemError(nilHandleErr);
  if (size < 0 || (size > 0 && !ptr1)) return qtm::SetMemError(paramErr);
  Size old = BlockOf(hand2)->size;
  if (size > 0x7FFFFFFF - old) return qtm::SetMemError(memFullErr);
  SetHandleSize(hand2, old + size);
  if (OSErr err = qtm::GetMemError()) return err;
  std::memcpy(*hand2 + old, ptr1, static_cast<size_t>(size));
  return noErr;
}
