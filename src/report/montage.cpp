#include "report/montage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxColumns = 6;
constexpr int kMaxScale = 8;

// Bounding box in i and j of the voxels where `keep(v)` holds, kCropMargin voxels wider, within
// the grid; the whole grid when no voxel is kept.
template <typename Keep> void cropTo(const Volume &grid, MontageLayout &layout, Keep keep) {
  int lowI = grid.x;
  int highI = -1;
  int lowJ = grid.y;
  int highJ = -1;
  long v = 0;
  for (int k = 0; k < grid.z; ++k)
    for (int j = 0; j < grid.y; ++j)
      for (int i = 0; i < grid.x; ++i, ++v)
        if (keep(v)) {
          lowI = std::min(lowI, i);
          highI = std::max(highI, i);
          lowJ = std::min(lowJ, j);
          highJ = std::max(highJ, j);
        }
  if (highI < 0) {
    lowI = lowJ = 0;
    highI = grid.x - 1;
    highJ = grid.y - 1;
  }
  layout.x0 = std::max(0, lowI - kCropMargin);
  layout.y0 = std::max(0, lowJ - kCropMargin);
  layout.nx = std::min(grid.x - 1, highI + kCropMargin) - layout.x0 + 1;
  layout.ny = std::min(grid.y - 1, highJ + kCropMargin) - layout.y0 + 1;
}

// Draws every tile of `layout`, colouring voxel v by `colourOf(v)`.
template <typename ColourOf> RgbImage render(const MontageLayout &layout, ColourOf colourOf) {
  RgbImage image;
  image.width = layout.width;
  image.height = layout.height;
  image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 3, 0);
  const long plane = static_cast<long>(layout.gridX) * layout.gridY;
  for (std::size_t t = 0; t < layout.slices.size(); ++t) {
    const int tile = static_cast<int>(t);
    for (int j = 0; j < layout.ny; ++j)
      for (int i = 0; i < layout.nx; ++i) {
        const long v = layout.slices[t] * plane + static_cast<long>(j + layout.y0) * layout.gridX +
                       i + layout.x0;
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

std::vector<int> slicesHoldingRegions(const std::vector<int> &labels, long plane, int slices) {
  std::vector<int> holding;
  for (int k = 0; k < slices; ++k)
    if (std::any_of(labels.begin() + k * plane, labels.begin() + (k + 1) * plane,
                    [](int label) { return label > 0; }))
      holding.push_back(k);
  return holding;
}

std::vector<int> evenlySpacedSlices(const std::vector<int> &slices, std::size_t most) {
  if (slices.size() <= most)
    return slices;
  const double first = slices.front();
  const double span = slices.back() - first;
  std::vector<int> picked;
  for (std::size_t t = 0; t < most; ++t) {
    const double target = first + span * static_cast<double>(t) / static_cast<double>(most - 1);
    // The first slice at or above the target, or the one before it when that one is nearer.
    auto at = std::lower_bound(slices.begin(), slices.end(), target);
    if (at == slices.end() || (at != slices.begin() && target - *(at - 1) <= *at - target))
      --at;
    if (picked.empty() || picked.back() != *at)
      picked.push_back(*at);
  }
  return picked;
}

MontageLayout planMontage(const Volume &grid, const std::vector<int> &labels,
                          const std::vector<double> &background, int minTile) {
  MontageLayout layout;
  layout.gridX = grid.x;
  layout.gridY = grid.y;
  const long plane = static_cast<long>(grid.x) * grid.y;
  std::vector<int> slices = slicesHoldingRegions(labels, plane, grid.z);
  if (slices.empty())
    for (int k = 0; k < grid.z; ++k)
      slices.push_back(k);
  layout.slices = evenlySpacedSlices(slices, kMaxMontageSlices);
  const auto sliceZ = [&grid](int k) { return grid.world(grid.x / 2.0, grid.y / 2.0, k)[2]; };
  std::stable_sort(layout.slices.begin(), layout.slices.end(),
                   [&](int a, int b) { return sliceZ(a) < sliceZ(b); });
  for (const int k : layout.slices)
    layout.sliceMm.push_back(sliceZ(k));
  cropTo(grid, layout,
         [&](long v) { return labels[v] > 0 || (!background.empty() && background[v] > 0); });

  // World x grows to the subject's right; it must grow to the right of the picture. World y grows
  // anteriorly, which goes up.
  layout.mirrorX = grid.affine[0][0] < 0;
  layout.mirrorY = grid.affine[1][1] < 0;
  const int tiles = static_cast<int>(layout.slices.size());
  const int fitting = std::max(1, (kMaxMontageWidth + layout.gap) / (layout.nx + layout.gap));
  layout.columns = std::min({tiles, kMaxColumns, fitting});
  const auto widthAt = [&](int scale) {
    return layout.columns * layout.nx * scale + (layout.columns - 1) * layout.gap;
  };
  layout.scale = std::clamp(minTile / std::max(layout.nx, layout.ny), 1, kMaxScale);
  while (layout.scale > 1 && widthAt(layout.scale) > kMaxMontageWidth)
    --layout.scale;
  const int rows = (tiles + layout.columns - 1) / layout.columns;
  layout.width = widthAt(layout.scale);
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

RgbImage renderMasked(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                      const std::vector<double> &value, const std::vector<bool> &shown,
                      double top) {
  return render(layout, [&](long v) {
    return shown[v] ? redYellowColour(top > 0 ? value[v] / top : 1.0) : ::grey(grey[v]);
  });
}

RgbImage renderFrequency(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                         const std::vector<double> &percent) {
  return render(layout, [&](long v) {
    return percent[v] > 0 ? viridisColour(percent[v] / 100.0) : ::grey(grey[v]);
  });
}
