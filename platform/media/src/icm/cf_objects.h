// The engine's Core Foundation objects: numbers, constant strings, the
// boolean true and mutable dictionaries, all reference-counted.
#ifndef QTMEDIA_ICM_CF_OBJECTS_H
#define QTMEDIA_ICM_CF_OBJECTS_H

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qtmedia.h"

struct QtmCFObject {
  enum class Kind : uint32_t { kNumber, kString, kBoolean, kDictionary };
  static constexpr uint32_t kMagic = 0x43464F42;  // 'CFOB'

  QtmCFObject(Kind k, bool is_constant) : kind(k), constant(is_constant) {}
  virtual ~QtmCFObject() = default;

  uint32_t magic = kMagic;
  Kind kind;
  bool constant;  // never freed; retain and release do nothing
  std::atomic<int> refs{1};
};

namespace qtm {

struct CFNumber : QtmCFObject {
  explicit CFNumber(int64_t v) : QtmCFObject(Kind::kNumber, false), value(v) {}
  int64_t value;
};

struct CFString : QtmCFObject {
  explicit CFString(std::string t) : QtmCFObject(Kind::kString, true), text(std::move(t)) {}
  std::string text;
};

struct CFDictionary : QtmCFObject {
  CFDictionary() : QtmCFObject(Kind::kDictionary, false) {}
  ~CFDictionary() override;
  std::vector<std::pair<const QtmCFObject*, const QtmCFObject*>> entries;  // both retained
};

// The object behind a CF reference, or null when it is not one of ours.
const QtmCFObject* AsCFObject(CFTypeRef ref);
void CFRetainObject(const QtmCFObject* object);
void CFReleaseObject(const QtmCFObject* object);

// The value stored under a string key, or null.
const QtmCFObject* DictionaryValue(CFDictionaryRef dict, const char* key);
// A number value under key; false when absent or not a number.
bool DictionaryNumber(CFDictionaryRef dict, const char* key, int64_t* out);

// kCFBooleanTrue's object.
extern QtmCFObject g_true_object;
// The one string object kept for each text (CFSTR).
CFStringRef ConstantCFString(const char* text);

}  // namespace qtm

#endif
