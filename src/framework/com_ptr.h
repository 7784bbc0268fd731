// ComPtr<T>: holds one reference on a COM interface and releases it when
// it goes out of scope or is reassigned.
#ifndef KESTREL_FRAMEWORK_COM_PTR_H
#define KESTREL_FRAMEWORK_COM_PTR_H

#include <unknwn.h>

namespace kestrel {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adds a reference to p.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
  ComPtr(ComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    Assign(other.m_p);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      m_p = other.m_p;
      other.m_p = nullptr;
    }
    return *this;
  }

  // Holds p with a new reference; the previous one is released afterwards.
  void Assign(T* p) {
    if (p) p->AddRef();
    T* old = m_p;
    m_p = p;
    if (old) old->Release();
  }
  // Takes over a reference that the caller already owns.
  void Attach(T* p) {
    Reset();
    m_p = p;
  }
  // Gives the reference to the caller.
  T* Detach() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }
  void Reset() {
    T* old = m_p;
    m_p = nullptr;
    if (old) old->Release();
  }
  // For out-parameters: releases what is held and gives the slot.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &m_p;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};

}  // namespace kestrel

#endif
