// Core Audio channel layouts against FFmpeg's channels: the tag a source's
// layout is named by, and the FFmpeg channel each position of a requested
// layout carries.
#ifndef QTMEDIA_AUDIO_CHANNEL_LAYOUT_H
#define QTMEDIA_AUDIO_CHANNEL_LAYOUT_H

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/channel_layout.h>
}

#include "qtmedia.h"

namespace qtm {

// A layout as Core Audio describes it: a tag, and for the bitmap and
// description tags the bitmap or the labels.
struct CoreAudioLayout {
  AudioChannelLayoutTag tag = kAudioChannelLayoutTag_Unknown;
  AudioChannelBitmap bitmap = 0;
  std::vector<AudioChannelLabel> labels;
};

// The tag Core Audio gives a source: AAC channel configurations by their
// AAC tags, the usual FFmpeg layouts by the MPEG tags, other native layouts
// as a channel bitmap, the rest as "unknown" with the channel count. A tag
// that names the layout carries the source's speakers as a bitmap beside it
// (Core Audio reads the bitmap only with kAudioChannelLayoutTag_UseChannelBitmap):
// so a tag's surround pair, side or back, can be told.
CoreAudioLayout LayoutOfSource(const AVChannelLayout& source, AVCodecID codec);

// Reads an AudioChannelLayout record of size bytes. False when it is short
// or its description count does not fit.
bool ParseLayoutRecord(const void* record, size_t size, CoreAudioLayout* out);

// Bytes of the record describing layout, and the record itself (dst holds
// LayoutRecordSize(layout) bytes).
size_t LayoutRecordSize(const CoreAudioLayout& layout);
void WriteLayoutRecord(const CoreAudioLayout& layout, void* dst);

// The FFmpeg channel of each position of layout, resolved against the
// source (surround pairs go to the side or back pair the source has).
// An "unknown" tag yields the source's channels in its order when the
// counts agree. False when a tag, bit or label has no channel, a channel
// repeats, or the count is 0.
bool ChannelsOfLayout(const CoreAudioLayout& layout, const AVChannelLayout& source, std::vector<AVChannel>* channels);

}  // namespace qtm

#endif
