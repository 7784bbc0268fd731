#include "icm/cf_objects.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "api/export.h"

namespace qtm {
namespace {

QtmCFObject g_true(QtmCFObject::Kind::kBoolean, true);

std::mutex g_strings_mutex;
std::map<std::string, std::unique_ptr<CFString>, std::less<>>& ConstantStrings() {
  static auto* strings = new std::map<std::string, std::unique_ptr<CFString>, std::less<>>();
  return *strings;
}

}  // namespace

CFDictionary::~CFDictionary() {
  for (auto& [key, value] : entries) {
    CFReleaseObject(key);
    CFReleaseObject(value);
  }
}

const QtmCFObject* AsCFObject(CFTypeRef ref) {
  auto* object = static_cast<const QtmCFObject*>(ref);
  if (!object || object->magic != QtmCFObject::kMagic) return nullptr;
  return object;
}

void CFRetainObject(const QtmCFObject* object) {
  if (object && !object->constant) const_cast<QtmCFObject*>(object)->refs.fetch_add(1, std::memory_order_relaxed);
}

void CFReleaseObject(const QtmCFObject* object) {
  if (!object || object->constant) return;
  auto* o = const_cast<QtmCFObject*>(object);
  if (o->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    o->magic = 0;
    delete o;
  }
}

const QtmCFObject* DictionaryValue(CFDictionaryRef dict, const char* key) {
  const QtmCFObject* object = AsCFObject(dict);
  if (!object || object->kind != QtmCFObject::Kind::kDictionary || !key) return nullptr;
  for (const auto& [k, v] : static_cast<const CFDictionary*>(object)->entries) {
    if (k->kind == QtmCFObject::Kind::kString && static_cast<const CFString*>(k)->text == key) return v;
  }
  return nullptr;
}

bool DictionaryNumber(CFDictionaryRef dict, const char* key, int64_t* out) {
  const QtmCFObject* v = DictionaryValue(dict, key);
  if (!v || v->kind != QtmCFObject::Kind::kNumber) return false;
  *out = static_cast<const CFNumber*>(v)->value;
  return true;
}

}  // namespace qtm

using qtm::AsCFObject;

QTM_EXPORT const CFAllocatorRef kCFAllocatorDefault = nullptr;
QTM_EXPORT const CFBooleanRef kCFBooleanTrue = &qtm::g_true;
QTM_EXPORT const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       nullptr, nullptr,
                                                                           nullptr, nullptr, nullptr};
QTM_EXPORT const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

QTM_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                            const CFDictionaryKeyCallBacks* keyCallBacks,
                                                            const CFDictionaryValueCallBacks* valueCallBacks) {
  // Only the type callbacks are supported: keys and values are CF objects.
  if (capacity < 0 || keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
      valueCallBacks != &kCFTypeDictionaryValueCallBacks)
    return nullptr;
  auto* dict = new (std::nothrow) qtm::CFDictionary();
  if (dict && capacity > 0) dict->entries.reserve(static_cast<size_t>(capacity));
  return dict;
}

QTM_EXPORT void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
  const QtmCFObject* d = AsCFObject(dict);
  const QtmCFObject* k = AsCFObject(key);
  const QtmCFObject* v = AsCFObject(value);
  if (!d || d->kind != QtmCFObject::Kind::kDictionary || !k || !v) return;
  auto* entries = &static_cast<qtm::CFDictionary*>(dict)->entries;
  qtm::CFRetainObject(k);
  qtm::CFRetainObject(v);
  for (auto& entry : *entries) {
    bool same_key =
        entry.first == k ||
        (entry.first->kind == QtmCFObject::Kind::kString && k->kind == QtmCFObject::Kind::kString &&
         static_cast<const qtm::CFString*>(entry.first)->text == static_cast<const qtm::CFString*>(k)->text);
    if (same_key) {
      qtm::CFReleaseObject(entry.first);
      qtm::CFReleaseObject(entry.second);
      entry = {k, v};
      return;
    }
  }
  entries->emplace_back(k, v);
}

QTM_EXPORT CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
  if (type != kCFNumberSInt32Type || !valuePtr) return nullptr;
  int32_t value;
  memcpy(&value, valuePtr, sizeof(value));
  return new (std::nothrow) qtm::CFNumber(value);
}

QTM_EXPORT void CFRelease(CFTypeRef cf) { qtm::CFReleaseObject(AsCFObject(cf)); }

QTM_EXPORT CFStringRef __CFStringMakeConstantString(const char* cStr) {
  if (!cStr) return nullptr;
  std::lock_guard<std::mutex> lock(qtm::g_strings_mutex);
  auto& strings = qtm::ConstantStrings();
  auto it = strings.find(std::string_view(cStr));
  if (it == strings.end()) it = strings.emplace(cStr, std::make_unique<qtm::CFString>(cStr)).first;
  return it->second.get();
}
