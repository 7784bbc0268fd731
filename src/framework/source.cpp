#include "framework/source.h"

#include <new>

#include "framework/source_stream.h"

namespace kestrel {

CSource::CSource(const wchar_t* pName, IUnknown* pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_cStateLock, clsid) {}

CSource::~CSource() {
  // Released while active: end the workers while the pins are still whole.
  CBaseFilter::Stop();
  // Each pin's destructor takes itself out of the array.
  while (m_iPins > 0) delete m_paStreams[m_iPins - 1];
  delete[] m_paStreams;
}

int CSource::GetPinCount() {
  CAutoLock lock(&m_cStateLock);
  return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
  CAutoLock lock(&m_cStateLock);
  if (n < 0 || n >= m_iPins) return nullptr;
  return m_paStreams[n];
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
  CAutoLock lock(&m_cStateLock);
  auto* grown = new (std::nothrow) CSourceStream*[m_iPins + 1];
  if (!grown) return E_OUTOFMEMORY;
  for (int i = 0; i < m_iPins; ++i) grown[i] = m_paStreams[i];
  grown[m_iPins] = pStream;
  delete[] m_paStreams;
  m_paStreams = grown;
  ++m_iPins;
  IncrementPinVersion();
  return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
  CAutoLock lock(&m_cStateLock);
  for (int i = 0; i < m_iPins; ++i) {
    if (m_paStreams[i] != pStream) continue;
    for (int j = i + 1; j < m_iPins; ++j) m_paStreams[j - 1] = m_paStreams[j];
    --m_iPins;
    if (m_iPins == 0) {
      delete[] m_paStreams;
      m_paStreams = nullptr;
    }
    IncrementPinVersion();
    return S_OK;
  }
  return S_FALSE;
}

int CSource::FindPinNumber(IPin* pPin) {
  CAutoLock lock(&m_cStateLock);
  for (int i = 0; i < m_iPins; ++i) {
    if (static_cast<IPin*>(m_paStreams[i]) == pPin) return i;
  }
  return -1;
}

}  // namespace kestrel
