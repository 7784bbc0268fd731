// Movie user data: the texts of moov/udta, the iTunes-style metadata list
// and, for imported movies, the container's tags, behind GetUserDataText.
//
// A UserData reference is a UserDataRecord of the movie or of one of its
// tracks: a view that lives as long as the movie. A movie and each track
// always have one, empty when the file carries no tags.
#ifndef QTMEDIA_USERDATA_USER_DATA_H
#define QTMEDIA_USERDATA_USER_DATA_H

#include <cstdint>
#include <string>
#include <vector>

#include "movie/movie_model.h"
#include "qtmedia.h"

namespace qtm {

// One international-text record of a classic item.
struct TextRecord {
  uint16_t language = 0;  // Mac language code (< 0x400) or packed ISO 639-2/T
  std::vector<uint8_t> text;
};

// Splits a classic item's payload into its records (16-bit text size, 16-bit
// language, text). Stops at the first record that does not fit.
std::vector<TextRecord> ParseTextRecords(const std::vector<uint8_t>& payload);

// The record's text in Windows-1252.
std::string TextOfRecord(const TextRecord& record);

// The Mac language code of a region code (English for unknown ones), and the
// ISO 639-2/T code of the same language, packed as in the file.
uint16_t MacLanguageOfRegion(int16_t region);
uint16_t IsoLanguageOfRegion(int16_t region);

// The text (Windows-1252) of the index-th (from 1) item of type, in the
// region's language when an item has a record in it, else its first record.
// noErr, or userDataItemNotFound.
OSErr FindUserDataText(const MovieModel& model, OSType type, int32_t index, int16_t region, std::string* text);
// The same among a track's items (classic items only).
OSErr FindUserDataText(const std::vector<UserDataItem>& items, OSType type, int32_t index, int16_t region,
                       std::string* text);

}  // namespace qtm

#endif
