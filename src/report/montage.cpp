#include "report/montage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxColumns = 6;
constexpr int kMaxScale = 8;

// Evenly spaced picks from `all`, first and last included.
std::vector<int> thinned(const std::vector<int> &all, std::size_t most) {
  if (all.size() <= most)
    return all;
  std::vector<int> picked;
  for (std::size_t t = 0; t < most; ++t)
    picked.push_back(all[t * (all.size() - 1) / (most - 1)]);
  return picked;
}

// Draws every tile of `layout`, colouring voxel v by `colourOf(v)`.
template <typename ColourOf> RgbImage render(const MontageLayout &layout, ColourOf colourOf) {
  RgbImage image;
  image.width = layout.width;
  image.height = layout.height;
  image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 3, 0);
  const long plane = static_cast<long>(layout.nx) * layout.ny;
  for (std::size_t t = 0; t < layout.slices.size(); ++t) {
    const int tile = static_cast<int>(t);
    for (int j = 0; j < layout.ny; ++j)
      for (int i = 0; i < layout.nx; ++i) {
        const long v = layout.slices[t] * plane + static_cast<long>(j) * layout.nx + i;
        image.fill(layout.pixelX(tile, i), layout.pixelY(tile, j), layout.scale, colourOf(v));
      }
  }
  return image;
}

Rgb grey(unsigned char level) { return {level, level, level}; }

} // namespace

void RgbImage::fill(int x0, int y0, int size, const Rgb &c) {
  for (int y = y0; y < y0 + size; ++y)
    for (int x = x0; x < x0 + size; ++x) {
      unsigned char *p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
}

MontageLayout planMontage(const Volume &grid, const std::vector<int> &labels, int minTile) {
  MontageLayout layout;
  layout.nx = grid.x;
  layout.ny = grid.y;
  const long plane = static_cast<long>(grid.x) * grid.y;
  std::vector<int> withRegions;
  std::vector<int> every;
  for (int k = 0; k < grid.z; ++k) {
    every.push_back(k);
    if (std::any_of(labels.begin() + k * plane, labels.begin() + (k + 1) * plane,
                    [](int label) { return label > 0; }))
      withRegions.push_back(k);
  }
  layout.slices = thinned(withRegions.empty() ? every : withRegions, kMaxMontageSlices);
  const auto sliceZ = [&grid](int k) { return grid.world(grid.x / 2.0, grid.y / 2.0, k)[2]; };
  std::stable_sort(layout.slices.begin(), layout.slices.end(),
                   [&](int a, int b) { return sliceZ(a) < sliceZ(b); });
  for (const int k : layout.slices)
    layout.sliceMm.push_back(sliceZ(k));

  // World x grows to the subject's right; it must grow to the right of the picture. World y grows
  // anteriorly, which goes up.
  layout.mirrorX = grid.affine[0][0] < 0;
  layout.mirrorY = grid.affine[1][1] < 0;
  layout.scale = std::clamp(minTile / std::max(grid.x, grid.y), 1, kMaxScale);
  const int tiles = static_cast<int>(layout.slices.size());
  layout.columns = std::min(tiles, kMaxColumns);
  const int rows = (tiles + layout.columns - 1) / layout.columns;
  layout.width = layout.columns * layout.nx * layout.scale + (layout.columns - 1) * layout.gap;
  layout.height = rows * layout.ny * layout.scale + (rows - 1) * layout.gap;
  return layout;
}

double greyScaleTop(const std::vector<double> &values) {
  std::vector<double> finite;
  for (const double value : values)
    if (std::isfinite(value))
      finite.push_back(value);
  if (finite.empty())
    return 0;
  const std::size_t at = (finite.size() - 1) * 99 / 100;
  std::nth_element(finite.begin(), finite.begin() + static_cast<long>(at), finite.end());
  const double top = finite[at];
  return top > 0 ? top : std::max(0.0, *std::max_element(finite.begin(), finite.end()));
}

std::vector<unsigned char> greyLevels(const std::vector<double> &values, double top) {
  std::vector<unsigned char> levels(values.size(), 20);
  if (top <= 0)
    return levels;
  for (std::size_t v = 0; v < values.size(); ++v) {
    const double t = std::isfinite(values[v]) ? std::clamp(values[v] / top, 0.0, 1.0) : 0.0;
    levels[v] = static_cast<unsigned char>(20 + std::lround(t * 215.0));
  }
  return levels;
}

RgbImage renderRegions(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                       const std::vector<int> &labels) {
  return render(layout,
                [&](long v) { return labels[v] > 0 ? regionColour(labels[v]) : ::grey(grey[v]); });
}

RgbImage renderFrequency(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                         const std::vector<double> &percent) {
  return render(layout, [&](long v) {
    return percent[v] > 0 ? viridisColour(percent[v] / 100.0) : ::grey(grey[v]);
  });
}
