#include "framework/media_type.h"

#include <dshow.h>

#include <cstring>

namespace kestrel {
namespace {

void InitEmpty(AM_MEDIA_TYPE& mt) {
  std::memset(&mt, 0, sizeof(mt));
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = 1;
}

}  // namespace

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      InitEmpty(*target);
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!pmt) return nullptr;
  if (FAILED(CopyMediaType(pmt, source))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

CMediaType::CMediaType() { InitEmpty(*this); }

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) {
  InitEmpty(*this);
  Set(other);
}

CMediaType::CMediaType(const CMediaType& other) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

CMediaType::~CMediaType() { FreeMediaType(*this); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == this) return S_OK;
  FreeMediaType(*this);
  return CopyMediaType(this, &other);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  Set(other);
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  Set(other);
  return *this;
}

bool CMediaType::operator==(const AM_MEDIA_TYPE& other) const {
  if (majortype != other.majortype || subtype != other.subtype || formattype != other.formattype ||
      cbFormat != other.cbFormat) {
    return false;
  }
  if (cbFormat == 0) return true;
  if (!pbFormat || !other.pbFormat) return pbFormat == other.pbFormat;
  return std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0;
}

bool CMediaType::IsValid() const { return majortype != GUID_NULL; }

bool CMediaType::IsFullySpecified() const { return majortype != GUID_NULL && formattype != GUID_NULL; }

bool CMediaType::MatchesPartial(const AM_MEDIA_TYPE& other) const {
  if (majortype != GUID_NULL && majortype != other.majortype) return false;
  if (subtype != GUID_NULL && subtype != other.subtype) return false;
  if (formattype != GUID_NULL) {
    if (formattype != other.formattype || cbFormat != other.cbFormat) return false;
    if (cbFormat != 0 && (!pbFormat || !other.pbFormat || std::memcmp(pbFormat, other.pbFormat, cbFormat) != 0)) {
      return false;
    }
  }
  return true;
}

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == cbFormat && pbFormat) {
    std::memset(pbFormat, 0, length);
    return pbFormat;
  }
  CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
  if (length == 0) return nullptr;
  pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!pbFormat) return nullptr;
  std::memset(pbFormat, 0, length);
  cbFormat = length;
  return pbFormat;
}

HRESULT CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (length != 0 && !format) return E_POINTER;
  if (length == 0) {
    AllocFormatBuffer(0);
    return S_OK;
  }
  BYTE* p = AllocFormatBuffer(length);
  if (!p) return E_OUTOFMEMORY;
  std::memcpy(p, format, length);
  return S_OK;
}

void CMediaType::Clear() {
  FreeMediaType(*this);
  InitEmpty(*this);
}

void CMediaType::MoveTo(AM_MEDIA_TYPE* target) {
  *target = *this;
  InitEmpty(*this);
}

}  // namespace kestrel
