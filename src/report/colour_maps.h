#pragma once
// Colours of the pictures: a qualitative palette that tells regions apart, a perceptually uniform
// map for the frequency, and grey for the anatomy underneath.
#include <string>

struct Rgb {
  unsigned char r = 0;
  unsigned char g = 0;
  unsigned char b = 0;
  bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const Rgb &o) const { return !(*this == o); }
};

constexpr int kRegionPaletteSize = 12;

// Colour of region r >= 1; the palette repeats after kRegionPaletteSize regions.
Rgb regionColour(int region);

// Viridis colour of t in [0, 1] (clamped), quantised to one of 256 entries.
Rgb viridisColour(double t);

// From dark red (t = 0) through red to yellow (t = 1), t clamped: a statistic that must stand
// out from the grey anatomy and from the viridis frequency map.
Rgb redYellowColour(double t);

// "#rrggbb" for the page.
std::string hexColour(const Rgb &c);
