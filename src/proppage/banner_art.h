// The page's banner, a kestrel hovering before a low sun over hills, drawn
// for any size in pixels. The shapes are laid out on a banner 70 units high
// and scale with the height; the hills and the gradient reach across the
// whole width, so the picture fills any banner, sharp, without a stretched
// bitmap. Plain C++ without Windows: the build draws the module's bitmap
// with it, and the page draws the banner for its control's size.
#ifndef KESTREL_PROPPAGE_BANNER_ART_H
#define KESTREL_PROPPAGE_BANNER_ART_H

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Colours as 0xRRGGBB that a look at the banner finds: the sun's outer
// ring, the wings, and the frame round the edge.
constexpr uint32_t kBannerSunColour = 0xF6B274;
constexpr uint32_t kBannerWingColour = 0x3D2A20;
constexpr uint32_t kBannerFrameColour = 0xB5562A;

// The frame's thickness in pixels for a banner height pixels high: one
// pixel at the design's 70, growing with the height.
int BannerFrameThickness(int height);

// Draws the banner into width x height pixels of 24-bit BGR, top row first,
// rows stride bytes apart (at least width * 3). Edges are anti-aliased:
// exact coverage along each row, four samples down each pixel. Draws
// nothing for an empty size.
void DrawBanner(int width, int height, uint8_t* pixels, size_t stride);

}  // namespace kestrel

#endif
