#include "report/colour_maps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

// Saturated hues first, so that the usual two or three regions differ most.
constexpr std::array<Rgb, kRegionPaletteSize> kRegionPalette = {{{230, 25, 75},
                                                                 {60, 180, 75},
                                                                 {0, 130, 200},
                                                                 {245, 130, 48},
                                                                 {145, 30, 180},
                                                                 {70, 240, 240},
                                                                 {240, 50, 230},
                                                                 {210, 245, 60},
                                                                 {170, 110, 40},
                                                                 {0, 128, 128},
                                                                 {128, 0, 0},
                                                                 {255, 225, 25}}};

unsigned char channel(double value) {
  return static_cast<unsigned char>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

// Viridis as a degree-6 polynomial per channel (coefficients c0 .. c6 of a least-squares fit to
// the published table; the error stays below one step of 8 bits in most of the range).
Rgb viridisPolynomial(double t) {
  static const double c[7][3] = {{0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
                                 {0.1050930431085774, 1.404613529898575, 1.384590162594685},
                                 {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
                                 {-4.634230498983486, -5.799100973351585, -19.33244095627987},
                                 {6.228269936347081, 14.17993336680509, 56.69055260068105},
                                 {4.776384997670288, -13.74514537774601, -65.35303263337234},
                                 {-5.435455855934631, 4.645852612178535, 26.3124352495832}};
  double rgb[3];
  for (int ch = 0; ch < 3; ++ch) {
    double value = c[6][ch];
    for (int p = 5; p >= 0; --p)
      value = value * t + c[p][ch];
    rgb[ch] = value;
  }
  return {channel(rgb[0]), channel(rgb[1]), channel(rgb[2])};
}

} // namespace

Rgb regionColour(int region) {
  return kRegionPalette[static_cast<std::size_t>((std::max(region, 1) - 1) % kRegionPaletteSize)];
}

Rgb viridisColour(double t) {
  static const std::array<Rgb, 256> table = [] {
    std::array<Rgb, 256> entries{};
    for (int i = 0; i < 256; ++i)
      entries[i] = viridisPolynomial(i / 255.0);
    return entries;
  }();
  const double clamped = std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
  return table[static_cast<std::size_t>(std::lround(clamped * 255.0))];
}

std::string hexColour(const Rgb &c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

Rgb redYellowColour(double t) {
  const double c = std::clamp(t, 0.0, 1.0);
  const auto red = static_cast<unsigned char>(std::lround(160.0 + 95.0 * std::min(1.0, 2.0 * c)));
  const auto green = static_cast<unsigned char>(std::lround(255.0 * std::max(0.0, 2.0 * c - 1.0)));
  return {red, green, 0};
}
