// Turning and mirroring a decoded picture upright before it is converted,
// the way the ffmpeg tool's autorotation does it: its transpose, hflip and
// vflip filters work on the decoded pixel format, and a format they do not
// take (chroma subsampled in one direction only for a transposition, a
// palette, packed 4:2:2 for a mirror) is first converted by libswscale to
// the one libavfilter's format negotiation picks.
//
// Orientations are the TIFF/EXIF values of the destination attribute
// "Orientation" (qtmOrientation...): 1 upright; 2 mirrored left to right;
// 3 turned 180 degrees; 4 upside down (mirrored top to bottom); 5
// transposed (rows become columns); 6 turned 90 degrees clockwise; 7
// transverse; 8 turned 90 degrees anticlockwise. 5 to 8 swap width and
// height.
#ifndef QTMEDIA_ICM_PICTURE_ORIENTATION_H
#define QTMEDIA_ICM_PICTURE_ORIENTATION_H

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace qtm {

bool IsOrientation(int64_t value);
// Orientations 5 to 8: the picture's width becomes its height.
bool SwapsSides(int32_t orientation);

class PictureOrienter {
 public:
  explicit PictureOrienter(int32_t orientation);
  ~PictureOrienter();
  PictureOrienter(const PictureOrienter&) = delete;
  PictureOrienter& operator=(const PictureOrienter&) = delete;

  bool Upright() const { return orientation_ == 1; }
  int32_t orientation() const { return orientation_; }
  // Whether the operation takes pictures of the format as they are.
  bool Takes(AVPixelFormat format) const;
  // The pixel format, width and height of frame once oriented.
  void Shape(const AVFrame* frame, AVPixelFormat* format, int* width, int* height) const;
  // frame oriented: frame itself when upright, otherwise a picture of the
  // orienter's own (a view of frame for a vertical mirror) that stays valid
  // until the next call. sws_flags convert a format the operation does not
  // take. Null when out of memory.
  const AVFrame* Orient(const AVFrame* frame, int sws_flags);
  // Lets go of the picture Orient was given, once its result is used.
  void Forget();

 private:
  // The format the operation takes frame's format in: the same, or the one
  // the conversion before it makes.
  AVPixelFormat WorkingFormat(AVPixelFormat format) const;
  const AVFrame* Convert(const AVFrame* frame, AVPixelFormat format, int sws_flags);
  bool Allocate(AVFrame** frame, AVPixelFormat format, int width, int height);

  const int32_t orientation_;
  AVFrame* converted_ = nullptr;  // the format conversion before the operation
  AVFrame* turned_ = nullptr;     // the operation's own picture
  AVFrame* view_ = nullptr;       // a vertical mirror: negative strides
  SwsContext* sws_ = nullptr;
  int sws_key_[5] = {-1, -1, -1, -1, -1};
};

}  // namespace qtm

#endif
