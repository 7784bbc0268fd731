#include "icm/cf_objects.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace qtm {

QtmCFObject g_true_object(QtmCFObject::Kind::kBoolean, true);

namespace {

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

CFStringRef ConstantCFString(const char* text) {
  if (!text) return nullptr;
  std::lock_guard<std::mutex> lock(g_strings_mutex);
  auto& strings = ConstantStrings();
  auto it = strings.find(std::string_view(text));
  if (it == strings.end()) it = strings.emplace(text, std::make_unique<CFString>(text)).first;
  return it->second.get();
}

}  // namespace qtm
