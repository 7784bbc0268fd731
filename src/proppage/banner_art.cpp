#include "proppage/banner_art.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

constexpr double kDesignHeight = 70.0;
constexpr int kSamplesDown = 4;
constexpr int kCircleSegments = 96;
constexpr int kCurveSegments = 24;
constexpr double kPi = 3.14159265358979323846;

struct Point {
  double x, y;
};

struct Colour {
  uint8_t r, g, b;
};

constexpr Colour Rgb(uint32_t rgb) {
  return {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)};
}

// An outline in design units made of lines and quadratic curves, the curves
// flattened; closed from its last point back to its first.
class Path {
 public:
  Path& MoveTo(double x, double y) {
    m_points.push_back({x, y});
    m_control = {x, y};
    return *this;
  }
  Path& LineTo(double x, double y) { return MoveTo(x, y); }
  // A quadratic Bezier curve to (x, y) drawn towards (cx, cy).
  Path& CurveTo(double cx, double cy, double x, double y) {
    const Point from = m_points.back();
    for (int i = 1; i <= kCurveSegments; ++i) {
      const double t = static_cast<double>(i) / kCurveSegments, u = 1.0 - t;
      m_points.push_back({u * u * from.x + 2 * u * t * cx + t * t * x, u * u * from.y + 2 * u * t * cy + t * t * y});
    }
    m_control = {cx, cy};
    return *this;
  }
  // The same, drawn towards the last curve's control point mirrored in the
  // current point, so that the two curves join smoothly.
  Path& SmoothCurveTo(double x, double y) {
    const Point at = m_points.back();
    return CurveTo(2 * at.x - m_control.x, 2 * at.y - m_control.y, x, y);
  }
  const std::vector<Point>& Points() const { return m_points; }

 private:
  std::vector<Point> m_points;
  Point m_control = {0, 0};
};

// The pixels being drawn, and the shapes' scale from design units to them.
class Canvas {
 public:
  Canvas(int width, int height, uint8_t* pixels, size_t stride, double scale)
      : m_width(width), m_height(height), m_pixels(pixels), m_stride(stride), m_scale(scale), m_coverage(width) {}

  // From top to bottom, the first row top's colour and the last bottom's.
  void Gradient(Colour top, Colour bottom) {
    for (int y = 0; y < m_height; ++y) {
      const double f = m_height > 1 ? static_cast<double>(y) / (m_height - 1) : 0.0;
      const Colour row = {Mix(top.r, bottom.r, f), Mix(top.g, bottom.g, f), Mix(top.b, bottom.b, f)};
      for (int x = 0; x < m_width; ++x) Put(x, y, row);
    }
  }

  void Fill(const Path& path, Colour colour) { FillPolygon(path.Points(), colour); }

  // A polygon given as x, y pairs in design units.
  void Fill(std::initializer_list<double> xy, Colour colour) {
    std::vector<Point> points;
    for (auto it = xy.begin(); it + 1 < xy.end(); it += 2) points.push_back({it[0], it[1]});
    FillPolygon(points, colour);
  }

  void Circle(double cx, double cy, double radius, Colour colour) {
    std::vector<Point> points;
    for (int i = 0; i < kCircleSegments; ++i) {
      const double a = 2 * kPi * i / kCircleSegments;
      points.push_back({cx + radius * std::cos(a), cy + radius * std::sin(a)});
    }
    FillPolygon(points, colour);
  }

  // A frame thickness pixels wide along the four edges.
  void Frame(int thickness, Colour colour) {
    for (int y = 0; y < m_height; ++y) {
      const bool edge_row = y < thickness || y >= m_height - thickness;
      for (int x = 0; x < m_width; ++x)
        if (edge_row || x < thickness || x >= m_width - thickness) Put(x, y, colour);
    }
  }

 private:
  static uint8_t Mix(uint8_t from, uint8_t to, double f) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * f));
  }

  void Put(int x, int y, Colour colour) {
    uint8_t* p = m_pixels + static_cast<size_t>(y) * m_stride + static_cast<size_t>(x) * 3;
    p[0] = colour.b;
    p[1] = colour.g;
    p[2] = colour.r;
  }

  // The part of each pixel the polygon covers (non-zero winding), colour
  // laid over it in that proportion: along a row the exact length inside,
  // down a pixel the mean of kSamplesDown rows.
  void FillPolygon(const std::vector<Point>& design, Colour colour) {
    if (design.size() < 3) return;
    m_shape.clear();
    double left = m_width, right = 0, top = m_height, bottom = 0;
    for (const Point& d : design) {
      const Point p = {d.x * m_scale, d.y * m_scale};
      left = std::min(left, p.x);
      right = std::max(right, p.x);
      top = std::min(top, p.y);
      bottom = std::max(bottom, p.y);
      m_shape.push_back(p);
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(left)));
    const int x1 = std::min(m_width, static_cast<int>(std::ceil(right)));
    const int y0 = std::max(0, static_cast<int>(std::floor(top)));
    const int y1 = std::min(m_height, static_cast<int>(std::ceil(bottom)));
    for (int y = y0; y < y1; ++y) {
      std::fill(m_coverage.begin() + x0, m_coverage.begin() + x1, 0.0);
      for (int s = 0; s < kSamplesDown; ++s) CoverRow(y + (s + 0.5) / kSamplesDown);
      for (int x = x0; x < x1; ++x)
        if (m_coverage[x] > 0) Blend(x, y, std::min(1.0, m_coverage[x]), colour);
    }
  }

  // Adds the spans of the shape on the line at height sy.
  void CoverRow(double sy) {
    m_crossings.clear();
    const size_t n = m_shape.size();
    for (size_t i = 0; i < n; ++i) {
      const Point& a = m_shape[i];
      const Point& b = m_shape[(i + 1) % n];
      if ((a.y <= sy) == (b.y <= sy)) continue;
      m_crossings.emplace_back(a.x + (sy - a.y) * (b.x - a.x) / (b.y - a.y), a.y < b.y ? 1 : -1);
    }
    std::sort(m_crossings.begin(), m_crossings.end());
    int winding = 0;
    double start = 0;
    for (const auto& [x, direction] : m_crossings) {
      const int before = winding;
      winding += direction;
      if (before == 0 && winding != 0) start = x;
      if (before != 0 && winding == 0) CoverSpan(start, x, 1.0 / kSamplesDown);
    }
  }

  void CoverSpan(double from, double to, double weight) {
    from = std::max(from, 0.0);
    to = std::min(to, static_cast<double>(m_width));
    if (from >= to) return;
    const int last = std::min(m_width - 1, static_cast<int>(std::ceil(to)) - 1);
    for (int x = static_cast<int>(std::floor(from)); x <= last; ++x) {
      const double inside = std::min(to, x + 1.0) - std::max(from, static_cast<double>(x));
      if (inside > 0) m_coverage[x] += inside * weight;
    }
  }

  void Blend(int x, int y, double coverage, Colour colour) {
    if (coverage >= 1.0) {
      Put(x, y, colour);
      return;
    }
    uint8_t* p = m_pixels + static_cast<size_t>(y) * m_stride + static_cast<size_t>(x) * 3;
    p[0] = Mix(p[0], colour.b, coverage);
    p[1] = Mix(p[1], colour.g, coverage);
    p[2] = Mix(p[2], colour.r, coverage);
  }

  const int m_width, m_height;
  uint8_t* const m_pixels;
  const size_t m_stride;
  const double m_scale;
  std::vector<double> m_coverage;  // one row's
  std::vector<Point> m_shape;      // in pixels
  std::vector<std::pair<double, int>> m_crossings;
};

}  // namespace

int BannerFrameThickness(int height) { return std::max(1, static_cast<int>(std::lround(height / kDesignHeight))); }

void DrawBanner(int width, int height, uint8_t* pixels, size_t stride) {
  if (width <= 0 || height <= 0 || !pixels || stride < static_cast<size_t>(width) * 3) return;
  const double scale = height / kDesignHeight;
  const double right = width / scale;  // the right edge in design units
  Canvas canvas(width, height, pixels, stride, scale);
  canvas.Gradient(Rgb(0xF3CFA4), Rgb(0xFDF7EC));
  canvas.Circle(64, 40, 34, Rgb(kBannerSunColour));
  canvas.Circle(64, 40, 26, Rgb(0xFBE0B8));
  // The far hills, then the near ones.
  canvas.Fill(Path()
                  .MoveTo(0, 60)
                  .CurveTo(90, 46, 190, 58)
                  .SmoothCurveTo(380, 56)
                  .SmoothCurveTo(right, 61)
                  .LineTo(right, kDesignHeight)
                  .LineTo(0, kDesignHeight),
              Rgb(0xD9B48A));
  canvas.Fill(Path()
                  .MoveTo(0, 66)
                  .CurveTo(120, 54, 260, 65)
                  .SmoothCurveTo(right, 64)
                  .LineTo(right, kDesignHeight)
                  .LineTo(0, kDesignHeight),
              Rgb(0xC49A6C));
  // The bird: wings and their undersides, body, breast, head, beak, tail.
  const Colour wing = Rgb(kBannerWingColour), rufous = Rgb(0xA4532A), dark = Rgb(0x2A1D16);
  canvas.Fill({58, 31, 46, 25, 30, 18, 14, 12, 20, 18, 24, 21, 28, 23, 33, 26, 38, 29, 44, 32, 52, 35, 58, 37}, wing);
  canvas.Fill({70, 31, 82, 25, 98, 18, 114, 12, 108, 18, 104, 21, 100, 23, 95, 26, 90, 29, 84, 32, 76, 35, 70, 37},
              wing);
  canvas.Fill({58, 31, 48, 27, 36, 23, 42, 28, 50, 32, 58, 35}, rufous);
  canvas.Fill({70, 31, 80, 27, 92, 23, 86, 28, 78, 32, 70, 35}, rufous);
  canvas.Fill({59, 28, 69, 28, 70, 38, 67, 47, 61, 47, 58, 38}, rufous);
  canvas.Fill({61, 33, 67, 33, 66, 44, 62, 44}, Rgb(0xE9C9A0));
  canvas.Fill({60, 22, 64, 19, 68, 22, 68, 28, 60, 28}, Rgb(0x6B7A86));
  canvas.Fill({63, 27, 65, 27, 64, 30}, dark);
  canvas.Fill({61, 47, 67, 47, 73, 61, 55, 61}, rufous);
  canvas.Fill({56, 58, 72, 58, 73, 61, 55, 61}, dark);
  canvas.Frame(BannerFrameThickness(height), Rgb(kBannerFrameColour));
}

}  // namespace kestrel
