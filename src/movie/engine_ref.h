// EngineRef: one owned reference to an engine object (a handle, a Core
// Foundation object, a pixel buffer, a decompression session), given back with the engine's
// release function for its type when the holder lets go of it.
#ifndef KESTREL_MOVIE_ENGINE_REF_H
#define KESTREL_MOVIE_ENGINE_REF_H

#include <utility>

#include "qtmedia.h"

namespace kestrel {

template <typename T, auto Release>
class EngineRef {
 public:
  EngineRef() = default;
  // Takes over a reference the caller owns.
  explicit EngineRef(T ref) : m_ref(ref) {}
  ~EngineRef() { Reset(); }
  EngineRef(EngineRef&& other) noexcept : m_ref(std::exchange(other.m_ref, nullptr)) {}
  EngineRef& operator=(EngineRef&& other) noexcept {
    if (this != &other) {
      Reset();
      m_ref = std::exchange(other.m_ref, nullptr);
    }
    return *this;
  }
  EngineRef(const EngineRef&) = delete;
  EngineRef& operator=(const EngineRef&) = delete;

  T Get() const { return m_ref; }
  explicit operator bool() const { return m_ref != nullptr; }
  // Releases what is held; the address receives a new owned reference.
  T* Receive() {
    Reset();
    return &m_ref;
  }
  void Reset() {
    if (m_ref) Release(std::exchange(m_ref, nullptr));
  }

 private:
  T m_ref = nullptr;
};

using HandleHolder = EngineRef<Handle, DisposeHandle>;
using CFDictionaryHolder = EngineRef<CFMutableDictionaryRef, CFRelease>;
using CFNumberHolder = EngineRef<CFNumberRef, CFRelease>;
using PixelBufferHolder = EngineRef<CVPixelBufferRef, CVPixelBufferRelease>;
using DecompressionSessionHolder = EngineRef<ICMDecompressionSessionRef, ICMDecompressionSessionRelease>;
using DecompressionOptionsHolder = EngineRef<ICMDecompressionSessionOptionsRef, ICMDecompressionSessionOptionsRelease>;

}  // namespace kestrel

#endif
