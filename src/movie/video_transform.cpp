#include "movie/video_transform.h"

#include <cstdlib>
#include <initializer_list>

namespace kestrel {
namespace {

constexpr Fixed kOne = fixed1;
constexpr int32_t kFractOne = 1 << 30;
// Writers round: a value this close to 0 or 1 is taken as it.
constexpr Fixed kSlack = 16;

// -1, 0 or 1 when v is that within the slack; 2 otherwise.
int UnitOf(Fixed v) {
  for (int unit : {-1, 0, 1})
    if (std::abs(static_cast<int64_t>(v) - static_cast<int64_t>(unit) * kOne) <= kSlack) return unit;
  return 2;
}

}  // namespace

MatrixRecord CombineMatrices(const MatrixRecord& track, const MatrixRecord& movie) {
  // Columns 0 and 1 hold 16.16 values, column 2 2.30: each product is
  // brought back by the fraction bits of the row's element.
  static constexpr int kShift[3] = {16, 16, 30};
  MatrixRecord out = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      int64_t sum = 0;
      for (int e = 0; e < 3; ++e) sum += (static_cast<int64_t>(track.matrix[i][e]) * movie.matrix[e][j]) >> kShift[e];
      out.matrix[i][j] = static_cast<Fixed>(sum);
    }
  return out;
}

VideoTransform TransformOf(const MatrixRecord& combined) {
  VideoTransform t;
  t.matrix = combined;
  const auto& m = combined.matrix;
  int a = UnitOf(m[0][0]), b = UnitOf(m[0][1]), c = UnitOf(m[1][0]), d = UnitOf(m[1][1]);
  bool affine = m[0][2] == 0 && m[1][2] == 0 && m[2][2] == kFractOne;
  // ffmpeg's reading: transpose "clock" for b 1, c -1; "cclock" for b -1,
  // c 1; "cclock_flip" (the plain transposition) for b 1, c 1; "clock_flip"
  // for b -1, c -1; hflip for a -1, vflip for d -1.
  static constexpr struct {
    int a, b, c, d;
    int32_t orientation, rotation;
  } kPure[] = {
      {1, 0, 0, 1, qtmOrientationUpright, 0},        {-1, 0, 0, 1, qtmOrientationMirrored, 180},
      {-1, 0, 0, -1, qtmOrientationRotated180, 180}, {1, 0, 0, -1, qtmOrientationFlipped, 0},
      {0, 1, 1, 0, qtmOrientationTransposed, 90},    {0, 1, -1, 0, qtmOrientationRotated90, 90},
      {0, -1, -1, 0, qtmOrientationTransverse, 270}, {0, -1, 1, 0, qtmOrientationRotated270, 270},
  };
  if (affine) {
    for (const auto& p : kPure) {
      if (p.a == a && p.b == b && p.c == c && p.d == d) {
        t.orientation = p.orientation;
        t.rotation = p.rotation;
        return t;
      }
    }
  }
  t.ignored = true;
  return t;
}

const wchar_t* OrientationText(int32_t orientation) {
  switch (orientation) {
    case qtmOrientationMirrored:
      return L"mirrored left to right";
    case qtmOrientationRotated180:
      return L"turned 180 degrees";
    case qtmOrientationFlipped:
      return L"mirrored top to bottom";
    case qtmOrientationTransposed:
      return L"turned 90 degrees clockwise and mirrored left to right";
    case qtmOrientationRotated90:
      return L"turned 90 degrees clockwise";
    case qtmOrientationTransverse:
      return L"turned 90 degrees anticlockwise and mirrored left to right";
    case qtmOrientationRotated270:
      return L"turned 90 degrees anticlockwise";
    default:
      return L"";
  }
}

}  // namespace kestrel
