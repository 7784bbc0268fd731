#include "audio/audio_tracks.h"

#include <new>

#include "audio/audio_extractor.h"
#include "movie/engine_ref.h"
#include "movie/media_text.h"

namespace kestrel {
namespace {

constexpr OSType kTrackName = 0x6E616D65;  // 'name'

constexpr OSType Code(const char (&s)[5]) {
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

// The track's name item: plain text, or one international text record
// (16-bit size, 16-bit language, text).
std::wstring TrackName(Track track) {
  UserData user_data = GetTrackUserData(track);
  HandleHolder item(NewHandle(0));
  if (!user_data || !item || GetUserData(user_data, item.Get(), kTrackName, 1) != noErr) return {};
  const auto* p = reinterpret_cast<const uint8_t*>(*item.Get());
  size_t size = static_cast<size_t>(GetHandleSize(item.Get()));
  if (size >= 4 && static_cast<size_t>(p[0] << 8 | p[1]) == size - 4) p += 4, size -= 4;
  return WideFromMediaText(p, size);
}

std::wstring HandlerName(Media media) {
  unsigned char name[256] = {};
  OSType type = 0;
  GetMediaHandlerDescription(media, &type, name, nullptr);
  return WideFromMediaText(name + 1, name[0]);
}

// The stream format and the sample size of the media's first description.
bool ReadFormat(Media media, AudioStreamBasicDescription* format, int32_t* sample_size) {
  HandleHolder handle(NewHandle(4));
  if (!handle) return false;
  GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(handle.Get()));
  if (GetMoviesError() != noErr || GetHandleSize(handle.Get()) < static_cast<Size>(sizeof(SoundDescription)))
    return false;
  auto description = reinterpret_cast<SoundDescriptionHandle>(handle.Get());
  *sample_size = (*description)->sampleSize;
  return QTSoundDescriptionGetProperty(description, kQTPropertyClass_SoundDescription,
                                       kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, sizeof(*format),
                                       format, nullptr) == noErr;
}

}  // namespace

uint32_t OutputBits(OSType format, uint32_t stated_bits, int32_t sample_size) {
  uint32_t bits = 16;
  if (format == kAudioFormatLinearPCM || format == Code("alac") || format == Code("flac")) {
    bits = stated_bits != 0 ? stated_bits : static_cast<uint32_t>(sample_size > 0 ? sample_size : 16);
  }
  if (bits > 32) return 32;
  return (bits + 7) / 8 * 8;
}

HRESULT ReadAudioTracks(Movie movie, std::vector<AudioTrack>* tracks) {
  tracks->clear();
  if (!movie) return S_OK;
  try {
    for (int32_t i = 1;; ++i) {
      Track track = GetMovieIndTrackType(movie, i, SoundMediaType, movieTrackMediaType);
      if (!track) break;
      AudioTrack t;
      t.track = track;
      t.enabled = GetTrackEnabled(track) != 0;
      Media media = GetTrackMedia(track);
      t.language = LanguageOfMedia(media);
      t.name = TrackName(track);
      if (t.name.empty() && media) t.name = HandlerName(media);
      AudioStreamBasicDescription format = {};
      int32_t sample_size = 0;
      if (media && ReadFormat(media, &format, &sample_size)) {
        t.format = format.mFormatID;
        t.channels = format.mChannelsPerFrame;
        t.rate = static_cast<uint32_t>(format.mSampleRate);
        t.bits = OutputBits(format.mFormatID, format.mBitsPerChannel, sample_size);
      }
      tracks->push_back(std::move(t));
    }
  } catch (const std::bad_alloc&) {
    tracks->clear();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

int DefaultAudioTrack(const std::vector<AudioTrack>& tracks) {
  if (tracks.empty()) return -1;
  auto position = [&](Track t) {
    for (size_t i = 0; i < tracks.size(); ++i)
      if (tracks[i].track == t) return static_cast<int>(i);
    return -1;
  };
  // The first group with alternates: its members in track order.
  for (const AudioTrack& first : tracks) {
    if (GetTrackAlternate(first.track) == first.track) continue;
    int chosen = -1;
    Track member = first.track;
    do {
      int at = position(member);
      if (at >= 0 && tracks[at].enabled && (chosen < 0 || at < chosen)) chosen = at;
      member = GetTrackAlternate(member);
    } while (member && member != first.track);
    if (chosen >= 0) return chosen;
    break;
  }
  for (size_t i = 0; i < tracks.size(); ++i)
    if (tracks[i].enabled) return static_cast<int>(i);
  return 0;
}

std::wstring DisplayName(const AudioTrack& track) {
  std::wstring name = track.name;
  if (wcscmp(track.language.code, L"und") != 0) {
    if (!name.empty()) name += L' ';
    name += L'[';
    name += track.language.code;
    name += L']';
  }
  return name;
}

}  // namespace kestrel
