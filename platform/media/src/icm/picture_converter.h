// From a decoded picture to the packed pixel format a session emits, with
// libswscale. The accuracy chooses the conversion (ScalerFlagsFor); the
// field mode keeps one field, line-doubled, or interpolates the odd lines.
//
// A session converts its pictures lazily: each emitted pixel buffer holds
// its decoded frame and is converted when its base address is first locked,
// so a picture nobody looks at (dropped by a seek or a skip) costs nothing.
// The converter is shared by the session and its pending pictures and
// serialises their conversions.
#ifndef QTMEDIA_ICM_PICTURE_CONVERTER_H
#define QTMEDIA_ICM_PICTURE_CONVERTER_H

#include <cstdint>
#include <memory>
#include <mutex>

#include "icm/codec_setup.h"
#include "icm/picture_orientation.h"
#include "qtmedia.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct QtmPixelBuffer;

namespace qtm {

// The session's settings when a picture came out.
struct ConversionSettings {
  int32_t accuracy = codecNormalQuality;
  int32_t field_mode = kICMFieldMode_BothFields;
};

// libswscale flags for an accuracy (the whole mapping is stated where the
// decoder is set up, DecompressionSession::Open): below high quality the
// fast conversion (swscale's unscaled converters where one exists; for
// 4:2:0 to 4:2:2 each chroma row is repeated and luma is untouched, as
// `ffmpeg -sws_flags neighbor`), from high quality up the interpolating one
// (bicubic, as ffmpeg's default; from max quality with accurate rounding,
// bit-exact).
int ScalerFlagsFor(int32_t accuracy);

// libavutil's pixel format of a packed format a session emits, or NONE.
AVPixelFormat AvFormatOf(OSType format);

class PictureConverter {
 public:
  // Pictures go to format at width x height; the setup gives the colour
  // facts a frame does not carry. The orientation (picture_orientation.h)
  // turns each picture upright first; width and height are the upright
  // picture's.
  PictureConverter(OSType format, int width, int height, const CodecSetup& setup);
  PictureConverter(OSType format, int width, int height, const CodecSetup& setup, int32_t orientation);
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Whether frame can be converted with these settings: the conversion is
  // set up for it now.
  bool Prepare(const AVFrame* frame, const ConversionSettings& settings);
  // Converts frame into out (the converter's format and size).
  bool Convert(const AVFrame* frame, const ConversionSettings& settings, QtmPixelBuffer* out);
  // Converts frame into rows of the caller's memory (the converter's format
  // and size, bytes_per_row apart), where the conversion needs no memory of
  // its own and writes nothing past a row's end: both fields, the fast
  // conversion (swscale's only for rows of a multiple of 64 bytes) or the
  // two steps. False otherwise.
  bool ConvertInto(const AVFrame* frame, const ConversionSettings& settings, uint8_t* data, size_t bytes_per_row);

 private:
  bool PrepareLocked(const AVFrame* frame, const ConversionSettings& settings);
  // memory owns data for the sliced scaler; null when the caller owns it.
  bool ConvertLocked(const AVFrame* decoded, const ConversionSettings& settings, uint8_t* data, size_t bytes_per_row,
                     AVBufferRef* memory);
  bool ConvertUpright(const AVFrame* frame, const ConversionSettings& settings, uint8_t* data, size_t bytes_per_row,
                      AVBufferRef* memory);

  bool PrepareTwoSteps(int height);
  bool ConvertsFirst(const AVFrame* frame) const;
  bool PrepareStored(const AVFrame* frame, const ConversionSettings& settings);
  bool ConvertStoredFirst(const AVFrame* frame, const ConversionSettings& settings, uint8_t* data,
                          size_t bytes_per_row);

  const OSType format_;
  const int width_, height_;
  const AVColorSpace colorspace_;
  const AVColorRange range_;
  std::mutex lock_;
  SwsContext* sws_ = nullptr;
  int key_[6] = {-1, -1, -1, -1, -1, -1};
  AVFrame* src_ = nullptr;  // views handed to the scaler
  AVFrame* dst_ = nullptr;
  // The fast conversion of 4:2:0 to packed 4:2:2 interleaves without the
  // scaler; the interpolating one to UYVY goes in two steps: sws_ scales the
  // chroma into planar 4:2:2 (planes_), which is then interleaved.
  bool interleave_only_ = false;
  bool two_steps_ = false;
  AVFrame* planes_ = nullptr;
  PictureOrienter orienter_;
  // Converting before turning (ConvertsFirst): the conversion at the stored
  // size, its picture, and a view of it for the orienter.
  bool convert_first_ = false;
  std::unique_ptr<PictureConverter> stored_;
  QtmPixelBuffer* stored_picture_ = nullptr;
  AVFrame* stored_view_ = nullptr;
};

}  // namespace qtm

#endif
