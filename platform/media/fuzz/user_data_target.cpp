// A movie's user data: the bytes are the children of its 'udta' atom, read
// by the movie reader inside a movie of no tracks, then every text asked
// for in several languages. The same bytes go through each text encoding.
#include <algorithm>
#include <vector>

#include "fuzz_targets.h"
#include "movie/movie_model.h"
#include "userdata/text_encoding.h"
#include "userdata/user_data.h"

namespace qtm::fuzz {
namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> Atom(const char* type, const uint8_t* payload, size_t size) {
  std::vector<uint8_t> b;
  Put32(b, static_cast<uint32_t>(size + 8));
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), payload, payload + size);
  return b;
}

// ftyp, then moov holding an mvhd and the user data.
std::vector<uint8_t> MovieAround(const uint8_t* udta, size_t size) {
  std::vector<uint8_t> mvhd(100, 0);
  mvhd[14] = 0x02, mvhd[15] = 0x58;  // time scale 600
  mvhd[21] = 0x01;                   // rate 1.0
  std::vector<uint8_t> moov = Atom("mvhd", mvhd.data(), mvhd.size());
  std::vector<uint8_t> user = Atom("udta", udta, size);
  moov.insert(moov.end(), user.begin(), user.end());
  const uint8_t brand[] = {'q', 't', ' ', ' ', 0, 0, 2, 0, 'q', 't', ' ', ' '};
  std::vector<uint8_t> file = Atom("ftyp", brand, sizeof brand);
  std::vector<uint8_t> movie = Atom("moov", moov.data(), moov.size());
  file.insert(file.end(), movie.begin(), movie.end());
  return file;
}

}  // namespace

int FuzzUserData(const uint8_t* data, size_t size) {
  StartEngineOnce();
  for (TextEncoding encoding :
       {TextEncoding::kMacRoman, TextEncoding::kUtf8, TextEncoding::kUtf16BigEndian, TextEncoding::kUtf16LittleEndian})
    ToWindows1252(data, size, encoding);

  std::unique_ptr<MovieModel> movie;
  if (ReadMovie(MakeMemorySource(MovieAround(data, size)), &movie) != noErr) return 0;
  std::vector<OSType> types = {
      0xA96E616D /* (c)nam */, 0xA9636D74 /* (c)cmt */, 0xA9637079 /* (c)cpy */, 0xA9646573 /* (c)des */,
      0xA9737772 /* (c)swr */, 0xA9636F6D /* (c)com */, 0xA9646179 /* (c)day */, 0xA9415254 /* (c)ART */};
  for (const UserDataItem& item : movie->user_data) {
    if (types.size() >= 32) break;
    if (std::find(types.begin(), types.end(), item.type) == types.end()) types.push_back(item.type);
    for (const TextRecord& record : ParseTextRecords(item.payload)) TextOfRecord(record);
  }
  const int16_t regions[] = {verUS, verFrance, verGermany, verJapan, -1};
  std::string text;
  for (OSType type : types) {
    for (int16_t region : regions) {
      for (int32_t index = 0; index <= 2; ++index) FindUserDataText(*movie, type, index, region, &text);
    }
  }
  return 0;
}

}  // namespace qtm::fuzz
