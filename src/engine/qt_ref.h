// QtRef: one owned reference to an engine object (a handle, a Core
// Foundation object, a pixel buffer, a decompression session), given back with the engine's
// release function for its type when the holder lets go of it.
#ifndef KESTREL_ENGINE_QT_REF_H
#define KESTREL_ENGINE_QT_REF_H

#include <utility>

#include "qtmedia.h"

namespace kestrel {

template <typename T, auto Release>
class QtRef {
 public:
  QtRef() = default;
  // Takes over a reference the caller owns.
  explicit QtRef(T ref) : m_ref(ref) {}
  ~QtRef() { Reset(); }
  QtRef(QtRef&& other) noexcept : m_ref(std::exchange(other.m_ref, nullptr)) {}
  QtRef& operator=(QtRef&& other) noexcept {
    if (this != &other) {
      Reset();
      m_ref = std::exchange(other.m_ref, nullptr);
    }
    return *this;
  }
  QtRef(const QtRef&) = delete;
  QtRef& operator=(const QtRef&) = delete;

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

using HandleHolder = QtRef<Handle, DisposeHandle>;
using CFDictionaryHolder = QtRef<CFMutableDictionaryRef, CFRelease>;
using CFNumberHolder = QtRef<CFNumberRef, CFRelease>;
using PixelBufferHolder = QtRef<CVPixelBufferRef, CVPixelBufferRelease>;
using DecompressionSessionHolder = QtRef<ICMDecompressionSessionRef, ICMDecompressionSessionRelease>;
using DecompressionOptionsHolder = QtRef<ICMDecompressionSessionOptionsRef, ICMDecompressionSessionOptionsRelease>;

}  // namespace kestrel

#endif
