// How a video track is to be shown: its matrix (the track's, then the
// movie's) read as the ffmpeg tool's autorotation reads it. Pure rotations
// and mirror images become an orientation that the decoder applies to every
// picture; any other matrix (scaling, shear, perspective) is reported and
// the pictures are delivered as stored.
#ifndef KESTREL_MOVIE_VIDEO_TRANSFORM_H
#define KESTREL_MOVIE_VIDEO_TRANSFORM_H

#include <cstdint>

#include "qtmedia.h"

namespace kestrel {

struct VideoTransform {
  // The engine's qtmOrientation value applied to every picture.
  int32_t orientation = qtmOrientationUpright;
  // Clockwise degrees (0, 90, 180, 270) of that orientation, as ffprobe's
  // display matrix rotation gives them (negated): a mirror image counts as
  // the turn it shares with it (left to right: 180; top to bottom: 0).
  int32_t rotation = 0;
  // A matrix that is neither the identity nor a rotation or mirror image.
  bool ignored = false;
  // The track's matrix combined with the movie's.
  MatrixRecord matrix = {};
};

// The track's matrix followed by the movie's, in the file's fixed point
// (ffmpeg's product of the two).
MatrixRecord CombineMatrices(const MatrixRecord& track, const MatrixRecord& movie);

VideoTransform TransformOf(const MatrixRecord& combined);

// "turned 90 degrees clockwise" and the like, for the log; empty upright.
const wchar_t* OrientationText(int32_t orientation);

inline bool SwapsSides(int32_t orientation) {
  return orientation >= qtmOrientationTransposed && orientation <= qtmOrientationRotated270;
}

}  // namespace kestrel

#endif
