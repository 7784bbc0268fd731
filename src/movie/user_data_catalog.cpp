#include "movie/user_data_catalog.h"

#include <cstring>
#include <vector>

#include "movie/movie_file.h"

namespace kestrel {
namespace {

struct EntryInfo {
  OSType type;
  const wchar_t* name;
};

constexpr EntryInfo kEntries[UserDataCatalog::kEntryCount] = {
    {0xA9616C62, L"Album"},           {0xA9415254, L"Artist"},          {0xA9617574, L"Author"},
    {0xA9636870, L"Chapter"},         {0xA9636D74, L"Comment"},         {0xA9636F6D, L"Composer"},
    {0xA9637079, L"Copyright"},       {0xA9646179, L"Creation Date"},   {0xA9646573, L"Description"},
    {0xA9646972, L"Director"},        {0xA9646973, L"Disclaimer"},      {0xA9656E63, L"Encoded By"},
    {0xA96E616D, L"Full Name"},       {0xA967656E, L"Genre"},           {0xA9687374, L"Host Computer"},
    {0xA9696E66, L"Information"},     {0xA96B6579, L"Keywords"},        {0xA96D616B, L"Make"},
    {0xA96D6F64, L"Model"},           {0xA96F7065, L"Original Artist"}, {0xA9666D74, L"Original Format"},
    {0xA9737263, L"Original Source"}, {0xA9707266, L"Performers"},      {0xA9707264, L"Producer"},
    {0xA9505244, L"Product"},         {0xA9737772, L"Software"},        {0xA9726571, L"Special Playback Requirements"},
    {0xA974726B, L"Track"},           {0xA977726E, L"Warning"},         {0xA9777274, L"Writer"},
    {0xA975726C, L"URL Link"},
};

// The zero-terminated ANSI text as a value: at most 259 characters, never
// ending in half of a surrogate pair.
void StoreValue(const char* text, wchar_t* value) {
  value[0] = L'\0';
  int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (needed <= 1) return;
  std::vector<wchar_t> wide(static_cast<size_t>(needed));
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed) <= 0) return;
  size_t length = static_cast<size_t>(needed - 1);
  const size_t limit = UserDataCatalog::kTextChars - 1;
  if (length > limit) {
    length = limit;
    if (IS_HIGH_SURROGATE(wide[length - 1])) --length;
  }
  memcpy(value, wide.data(), length * sizeof(wchar_t));
  value[length] = L'\0';
}

// One entry: the first item of its type in the system's region. A type the
// movie lacks, or a failure here, leaves the value empty.
void ReadEntry(UserData user_data, OSType type, int16_t region, wchar_t* value) {
  Handle text = NewHandle(0);
  if (!text) return;
  if (GetUserDataText(user_data, text, type, 1, region) == noErr) {
    const char terminator = '\0';
    if (PtrAndHand(&terminator, text, 1) == noErr) {
      Size size = GetHandleSize(text);
      HLock(text);
      char* bytes = *text;
      for (Size i = 0; i < size; ++i)
        if (bytes[i] == '\r') bytes[i] = ' ';
      if (size > 0 && bytes[size - 1] == '\0') StoreValue(bytes, value);
      HUnlock(text);
    }
  }
  DisposeHandle(text);
}

}  // namespace

UserDataCatalog::UserDataCatalog() = default;

HRESULT UserDataCatalog::ReadUserData(const MoviePath& path) {
  for (auto& value : m_values) value[0] = L'\0';

  Movie movie = nullptr;
  if (FAILED(OpenMovieFromPath(path, &movie))) return E_FAIL;
  UserData user_data = GetMovieUserData(movie);
  if (!user_data) {
    DisposeMovieRef(&movie);
    return E_FAIL;
  }
  const int16_t region = static_cast<int16_t>(GetScriptManagerVariable(smRegionCode));
  for (int i = 0; i < kEntryCount; ++i) ReadEntry(user_data, kEntries[i].type, region, m_values[i]);
  DisposeMovieRef(&movie);
  return S_OK;
}

HRESULT UserDataCatalog::GetEntryType(int index, OSType* type) const {
  if (!type) return E_POINTER;
  if (index < 0 || index >= kEntryCount) return E_INVALIDARG;
  *type = kEntries[index].type;
  return S_OK;
}

HRESULT UserDataCatalog::GetEntryName(int index, wchar_t* name) const {
  if (!name) return E_POINTER;
  if (index < 0 || index >= kEntryCount) return E_INVALIDARG;
  wcsncpy(name, kEntries[index].name, kTextChars - 1);
  name[kTextChars - 1] = L'\0';
  return S_OK;
}

HRESULT UserDataCatalog::GetEntryValue(int index, wchar_t* value) const {
  if (!value) return E_POINTER;
  if (index < 0 || index >= kEntryCount) return E_INVALIDARG;
  memcpy(value, m_values[index], kTextChars * sizeof(wchar_t));
  return S_OK;
}

const wchar_t* UserDataCatalog::EntryName(int index) {
  return index >= 0 && index < kEntryCount ? kEntries[index].name : nullptr;
}

}  // namespace kestrel
