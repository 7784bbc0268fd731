// CMediaType: an AM_MEDIA_TYPE that owns its format block and its pUnk
// reference; copied deeply, compared by major type, subtype, format type,
// format length and format bytes. Plus the free and copy helpers for the
// plain AM_MEDIA_TYPE structures that cross COM interfaces (task memory).
#ifndef KESTREL_FRAMEWORK_MEDIA_TYPE_H
#define KESTREL_FRAMEWORK_MEDIA_TYPE_H

#include <windows.h>

#include <strmif.h>

namespace kestrel {

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  // A deep copy; an allocation failure leaves an empty type (IsValid false).
  CMediaType(const AM_MEDIA_TYPE& other);
  CMediaType(const CMediaType& other);
  ~CMediaType();

  // Deep copy; the previous contents are freed. E_OUTOFMEMORY leaves this
  // type empty.
  HRESULT Set(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);

  // Equal in major type, subtype, format type, format length and bytes.
  bool operator==(const AM_MEDIA_TYPE& other) const;
  bool operator!=(const AM_MEDIA_TYPE& other) const { return !(*this == other); }

  // A type other than GUID_NULL in its major type.
  bool IsValid() const;
  // Neither the major type nor the format type is GUID_NULL.
  bool IsFullySpecified() const;
  // Every part of this (partial) type that is not GUID_NULL equals that
  // part of other.
  bool MatchesPartial(const AM_MEDIA_TYPE& other) const;

  void SetType(const GUID& major) { majortype = major; }
  void SetSubtype(const GUID& sub) { subtype = sub; }
  void SetFormatType(const GUID& format) { formattype = format; }
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  // A zeroed format block of the given size (the old one freed); null when
  // out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  // A copy of the given bytes as the format block.
  HRESULT SetFormat(const BYTE* format, ULONG length);
  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }

  // Frees the format block and pUnk and sets the type to the empty one.
  void Clear();

  // Moves the contents into a plain structure (whose previous contents
  // are not freed) and leaves this type empty.
  void MoveTo(AM_MEDIA_TYPE* target);
};

// Frees the format block and pUnk of a plain structure (not the structure).
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a structure allocated with the task allocator and its contents.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into a plain structure: E_OUTOFMEMORY leaves target empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A task-allocated deep copy, or null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

}  // namespace kestrel

#endif
