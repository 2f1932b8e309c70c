#pragma once
// Axial slice montages of the result: the regions in their colours, or the frequency map, drawn
// over a grey background. Left and right follow the neurological convention (the subject's left
// on the left of the picture) and anterior is up, both decided from the affine.
#include <string>
#include <vector>

#include "report/colour_maps.h"
#include "report/volume.h"

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels; // RGB, rows top to bottom

  void fill(int x0, int y0, int size, const Rgb &c);
};

struct MontageLayout {
  std::vector<int> slices;     // voxel k of each tile, in tile order (inferior to superior)
  std::vector<double> sliceMm; // world z of each tile's centre
  int scale = 1;               // pixels per voxel side
  int columns = 1;             // tiles per row
  int gap = 2;                 // pixels between tiles
  int nx = 0;                  // voxels across a tile
  int ny = 0;                  // voxels down a tile
  int x0 = 0;                  // first voxel i and j of the crop
  int y0 = 0;
  int gridX = 0; // the whole grid's extents in i and j
  int gridY = 0;
  bool mirrorX = false; // i increases to the left of the picture
  bool mirrorY = false; // j increases downwards
  int width = 0;
  int height = 0;

  int tileLeft(int tile) const { return (tile % columns) * (nx * scale + gap); }
  int tileTop(int tile) const { return (tile / columns) * (ny * scale + gap); }
  // Top-left pixel of voxel (i, j) in tile `tile`.
  int pixelX(int tile, int i) const { return tileLeft(tile) + (mirrorX ? nx - 1 - i : i) * scale; }
  int pixelY(int tile, int j) const { return tileTop(tile) + (mirrorY ? j : ny - 1 - j) * scale; }
};

constexpr int kMaxMontageSlices = 12;
constexpr int kMaxMontageWidth = 1150; // pixels: the montage fits a page about 1300 pixels wide
constexpr int kCropMargin = 2;         // voxels kept around the background's bounding box

// The slices that hold region voxels (every slice when none does): all of them when they are at
// most kMaxMontageSlices, else the ones nearest to kMaxMontageSlices evenly spaced positions from
// the lowest to the highest. Tiles are cropped in i and j to the bounding box of the voxels
// where `background` is above 0 or a region lies, with kCropMargin voxels to spare; at most six
// columns; a tile is about `minTile` pixels on its longer side (1 to 8 pixels per voxel), and
// the whole montage at most kMaxMontageWidth wide while one pixel per voxel allows.
MontageLayout planMontage(const Volume &grid, const std::vector<int> &labels,
                          const std::vector<double> &background = {}, int minTile = 240);

// Slices 0 .. slices-1 that `labels` (a volume of `plane` voxels per slice) marks above 0.
std::vector<int> slicesHoldingRegions(const std::vector<int> &labels, long plane, int slices);

// At most `most` of the ascending `slices`: the ones nearest to evenly spaced positions from the
// first to the last (the lower on a tie), each once.
std::vector<int> evenlySpacedSlices(const std::vector<int> &slices, std::size_t most);

// Top of the grey scale: the 99th percentile of the finite values (so a few bright voxels do not
// darken the rest), or their maximum when that percentile is not positive; 0 for no signal.
double greyScaleTop(const std::vector<double> &values);

// Grey level per voxel: 0 .. top mapped linearly onto 20 .. 235, brighter values saturated; the
// floor of 20 sets the volume apart from the black gaps between tiles.
std::vector<unsigned char> greyLevels(const std::vector<double> &values, double top);

// Regions in their palette colours over the grey background.
RgbImage renderRegions(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                       const std::vector<int> &labels);

// Frequency (percent, 0 .. 100) in viridis where it is above 0, over the grey background.
RgbImage renderFrequency(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                         const std::vector<double> &percent);

// `value` from red (0) to yellow (`top` and above) where `shown` is set, over the grey background.
RgbImage renderMasked(const MontageLayout &layout, const std::vector<unsigned char> &grey,
                      const std::vector<double> &value, const std::vector<bool> &shown, double top);
