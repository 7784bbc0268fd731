// Matrices read as the ffmpeg tool's autorotation reads them: the track's
// combined with the movie's in the file's fixed point, the eight pure turns
// and mirror images (within a writer's rounding, whatever the translation),
// and everything else left alone.
#include "movie/video_transform.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

MatrixRecord Matrix(double a, double b, double c, double d, double x = 0, double y = 0) {
  MatrixRecord m = {};
  m.matrix[0][0] = static_cast<Fixed>(a * 65536);
  m.matrix[0][1] = static_cast<Fixed>(b * 65536);
  m.matrix[1][0] = static_cast<Fixed>(c * 65536);
  m.matrix[1][1] = static_cast<Fixed>(d * 65536);
  m.matrix[2][0] = static_cast<Fixed>(x * 65536);
  m.matrix[2][1] = static_cast<Fixed>(y * 65536);
  m.matrix[2][2] = 1 << 30;
  return m;
}

TEST(VideoTransform, TheEightTurnsAndMirrorImages) {
  struct Case {
    double a, b, c, d;
    int32_t orientation, rotation;
  } cases[] = {
      {1, 0, 0, 1, qtmOrientationUpright, 0},        {-1, 0, 0, 1, qtmOrientationMirrored, 180},
      {-1, 0, 0, -1, qtmOrientationRotated180, 180}, {1, 0, 0, -1, qtmOrientationFlipped, 0},
      {0, 1, 1, 0, qtmOrientationTransposed, 90},    {0, 1, -1, 0, qtmOrientationRotated90, 90},
      {0, -1, -1, 0, qtmOrientationTransverse, 270}, {0, -1, 1, 0, qtmOrientationRotated270, 270},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    for (auto [x, y] : {std::pair{0.0, 0.0}, {1080.0, 0.0}, {-3.5, 720.0}}) {
      VideoTransform t = TransformOf(Matrix(c.a, c.b, c.c, c.d, x, y));
      EXPECT_EQ(t.orientation, c.orientation);
      EXPECT_EQ(t.rotation, c.rotation);
      EXPECT_FALSE(t.ignored);
    }
    // A writer's rounding of cos(90 degrees) and of 1.
    MatrixRecord rounded = Matrix(c.a, c.b, c.c, c.d);
    rounded.matrix[0][0] += 3;
    rounded.matrix[1][1] -= 16;
    EXPECT_EQ(TransformOf(rounded).orientation, c.orientation);
    EXPECT_EQ(SwapsSides(c.orientation), c.b != 0);
    EXPECT_EQ(OrientationText(c.orientation)[0] == L'\0', c.orientation == qtmOrientationUpright);
  }
}

TEST(VideoTransform, OtherMatricesAreLeftAlone) {
  MatrixRecord perspective = Matrix(0, 1, -1, 0);
  perspective.matrix[0][2] = 1 << 20;
  MatrixRecord off_by_more = Matrix(0, 1, -1, 0);
  off_by_more.matrix[0][1] += 17;
  for (const MatrixRecord& m :
       {Matrix(2, 0, 0, 1), Matrix(1, 0, 0.5, 1), Matrix(0, 2, -2, 0), Matrix(0.7071, 0.7071, -0.7071, 0.7071),
        Matrix(0, 0, 0, 0), perspective, off_by_more}) {
    VideoTransform t = TransformOf(m);
    EXPECT_TRUE(t.ignored);
    EXPECT_EQ(t.orientation, qtmOrientationUpright);
    EXPECT_EQ(t.rotation, 0);
  }
}

TEST(VideoTransform, TheTracksMatrixThenTheMovies) {
  // A quarter turn in each: half a turn. The track's translation is carried
  // through the movie's turn, as ffmpeg's product does.
  MatrixRecord both = CombineMatrices(Matrix(0, 1, -1, 0, 60, 0), Matrix(0, 1, -1, 0));
  EXPECT_EQ(TransformOf(both).orientation, qtmOrientationRotated180);
  EXPECT_EQ(both.matrix[2][0], 0);
  EXPECT_EQ(both.matrix[2][1], 60 << 16);
  EXPECT_EQ(both.matrix[2][2], 1 << 30);
  // The identity changes nothing, on either side.
  MatrixRecord turn = Matrix(0, -1, 1, 0, 0, 100);
  MatrixRecord a = CombineMatrices(turn, Matrix(1, 0, 0, 1)), b = CombineMatrices(Matrix(1, 0, 0, 1), turn);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(a.matrix[i][j], turn.matrix[i][j]);
      EXPECT_EQ(b.matrix[i][j], turn.matrix[i][j]);
    }
  // A mirror image followed by a half turn: upside down.
  EXPECT_EQ(TransformOf(CombineMatrices(Matrix(-1, 0, 0, 1), Matrix(-1, 0, 0, -1))).orientation, qtmOrientationFlipped);
}

}  // namespace
}  // namespace kestrel
