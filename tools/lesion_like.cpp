#include "lesion_like.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>

namespace lesionlike {
namespace {

// The anatomy is placed in the voxel coordinates of the 2 mm template grid (91 x 109 x 91);
// `Stretch` maps them onto the study's grid, voxel centre to voxel centre.
constexpr double kTemplateExtent[3] = {91.0, 109.0, 91.0};
constexpr double kPi = 3.14159265358979323846;

struct Stretch {
  double perAxis[3]; // grid voxels per template voxel
  explicit Stretch(const Grid &grid)
      : perAxis{grid.x / kTemplateExtent[0], grid.y / kTemplateExtent[1],
                grid.z / kTemplateExtent[2]} {}
  double toTemplate(int axis, int i) const { return (i + 0.5) / perAxis[axis] - 0.5; }
  double toGrid(int axis, double t) const { return (t + 0.5) * perAxis[axis] - 0.5; }
  double voxelRatio() const { return perAxis[0] * perAxis[1] * perAxis[2]; }
};

using Point = std::array<double, 3>;

class Random {
public:
  explicit Random(unsigned seed) : engine_(seed) {}
  double uniform() { return engine_() / 4294967296.0; }
  double between(double low, double high) { return low + (high - low) * uniform(); }
  // Box-Muller rather than std::normal_distribution, whose draws differ between libraries: a
  // seed must give the same study everywhere.
  double normal() {
    const double u = 1.0 - uniform();
    const double v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * v);
  }
  Point direction() {
    for (;;) {
      const Point d = {normal(), normal(), normal()};
      const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      if (n > 1e-9)
        return {d[0] / n, d[1] / n, d[2] / n};
    }
  }

private:
  std::mt19937 engine_;
};

double dot(const Point &a, const Point &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// An ellipsoid with separate semi-axes to the front and back and to the top and bottom: longer
// behind, flatter underneath, like a brain. Convex, so a lesion clipped to it stays in one piece.
struct Brain {
  Point centre = {45.0, 56.0, 38.0};
  double halfWidth = 36.0;
  double front = 44.0, back = 46.0, top = 36.0, bottom = 28.0;

  // Below 1 inside, 1 on the surface.
  double radius2(const Point &p) const {
    const double dx = (p[0] - centre[0]) / halfWidth;
    const double dy = (p[1] - centre[1]) / (p[1] >= centre[1] ? front : back);
    const double dz = (p[2] - centre[2]) / (p[2] >= centre[2] ? top : bottom);
    return dx * dx + dy * dy + dz * dz;
  }
  // -1 for the hemisphere of the smaller x, +1 for the other.
  int sideOf(double x) const { return x < centre[0] ? -1 : 1; }
};
const Brain kBrain;

// Most strokes of a study fall in one arterial territory (deep white matter and insula) of the
// hemisphere the study recruits for, here the one of smaller x; lesion centres scatter around it.
constexpr int kDominantSide = -1;
Point territoryCentre(int side) {
  return {kBrain.centre[0] + side * 0.45 * kBrain.halfWidth, kBrain.centre[1] + 4.0,
          kBrain.centre[2] + 6.0};
}
constexpr double kTerritorySpread[3] = {17.0, 30.0, 21.0};
// Lesions stay inside their territory, an ellipsoid about its core: strokes seldom reach the
// poles of the brain. The few lesions of the other side keep to a smaller one.
constexpr double kTerritorySemiAxes[3] = {22.0, 40.0, 28.0};
bool inTerritory(const Point &p, int side, const Cohort &cohort) {
  const Point core = territoryCentre(side);
  const double shrink = side == kDominantSide ? 1.0 : cohort.otherShrink;
  double r2 = 0.0;
  for (int a = 0; a < 3; ++a) {
    const double d = (p[a] - core[a]) / (shrink * kTerritorySemiAxes[a]);
    r2 += d * d;
  }
  return r2 <= 1.0;
}

// The planted parcel: a small ellipsoid behind and above the territory's core, so that some
// lesions cover it and many do not.
const Point kParcelCentre = {territoryCentre(kDominantSide)[0] - 3.0,
                             territoryCentre(kDominantSide)[1] - 10.0,
                             territoryCentre(kDominantSide)[2] + 6.0};
constexpr double kParcelSemiAxes[3] = {5.0, 6.0, 5.0};

// Lesion volumes in 2 mm voxels: log-normal around the median, longer towards small lesions,
// kept within the range seen in stroke studies.
constexpr double kSpreadBelow = 1.0, kSpreadAbove = 0.65;
constexpr double kMinVolume = 1000.0, kMaxVolume = 50000.0;

// A lobe is an ellipsoid whose surface is rippled: its radius in direction u is scaled by
// 1 + kRipple/3 * sum_k sin(kRippleFrequency * (w_k . u) + phase_k), a smooth bumpy outline.
constexpr double kRipple = 0.18;
constexpr double kRippleFrequency = 1.5 * kPi;

struct Lobe {
  Point offset;   // from the blob's centre, at scale 1
  Point axes[3];  // orthonormal
  double semi[3]; // semi-axes at scale 1
  Point waves[3]; // unit directions of the ripples
  double phases[3];
  double reach() const {
    return std::sqrt(dot(offset, offset)) + *std::max_element(semi, semi + 3);
  }
};

// A blob is a union of lobes that all contain its centre, so it is one smooth piece; `scale`
// grows every lobe and its offset together about the centre.
struct Blob {
  Point centre;
  std::vector<Lobe> lobes;

  bool contains(const Point &p, double scale) const {
    for (const Lobe &lobe : lobes) {
      const Point d = {p[0] - centre[0] - scale * lobe.offset[0],
                       p[1] - centre[1] - scale * lobe.offset[1],
                       p[2] - centre[2] - scale * lobe.offset[2]};
      double rho2 = 0.0;
      for (int a = 0; a < 3; ++a) {
        const double q = dot(lobe.axes[a], d) / (scale * lobe.semi[a]);
        rho2 += q * q;
      }
      if (rho2 > (1.0 + kRipple) * (1.0 + kRipple))
        continue;
      if (rho2 <= (1.0 - kRipple) * (1.0 - kRipple))
        return true;
      const double n = std::sqrt(dot(d, d));
      const Point u = {d[0] / n, d[1] / n, d[2] / n};
      double ripple = 0.0;
      for (int k = 0; k < 3; ++k)
        ripple += std::sin(kRippleFrequency * dot(lobe.waves[k], u) + lobe.phases[k]);
      if (std::sqrt(rho2) <= 1.0 + kRipple / 3.0 * ripple)
        return true;
    }
    return false;
  }
  double reach(double scale) const {
    double r = 0.0;
    for (const Lobe &lobe : lobes)
      r = std::max(r, lobe.reach());
    return scale * r * (1.0 + kRipple);
  }
};

void randomFrame(Random &random, Point axes[3]) {
  axes[0] = random.direction();
  Point second = random.direction();
  const double along = dot(second, axes[0]);
  for (int a = 0; a < 3; ++a)
    second[a] -= along * axes[0][a];
  const double n = std::sqrt(dot(second, second));
  if (n < 1e-6) // nearly parallel: any perpendicular will do
    second = std::fabs(axes[0][0]) < 0.9 ? Point{0.0, -axes[0][2], axes[0][1]}
                                         : Point{-axes[0][2], 0.0, axes[0][0]};
  const double m = std::sqrt(dot(second, second));
  axes[1] = {second[0] / m, second[1] / m, second[2] / m};
  axes[2] = {axes[0][1] * axes[1][2] - axes[0][2] * axes[1][1],
             axes[0][2] * axes[1][0] - axes[0][0] * axes[1][2],
             axes[0][0] * axes[1][1] - axes[0][1] * axes[1][0]};
}

Lobe randomLobe(Random &random, double radius, bool main) {
  Lobe lobe;
  randomFrame(random, lobe.axes);
  if (main) {
    lobe.semi[0] = radius;
    lobe.semi[1] = radius * random.between(0.6, 1.0);
    lobe.semi[2] = radius * random.between(0.5, 0.9);
    lobe.offset = {0.0, 0.0, 0.0};
  } else {
    lobe.semi[0] = radius * random.between(0.5, 0.8);
    lobe.semi[1] = radius * random.between(0.4, 0.7);
    lobe.semi[2] = radius * random.between(0.4, 0.6);
    // Within the lobe's smallest rippled radius (0.4 * 0.82 of `radius`): it holds the centre.
    const Point d = random.direction();
    const double shift = radius * random.between(0.1, 0.3);
    lobe.offset = {d[0] * shift, d[1] * shift, d[2] * shift};
  }
  for (int k = 0; k < 3; ++k) {
    lobe.waves[k] = random.direction();
    lobe.phases[k] = random.between(0.0, 2.0 * kPi);
  }
  return lobe;
}

// A blob of roughly `volume` cubic template voxels; its exact size is set when it is drawn.
Blob randomBlob(Random &random, const Point &centre, double volume) {
  Blob blob;
  blob.centre = centre;
  // 0.56: the main lobe's mean axis ratios, 0.8 * 0.7.
  const double radius = std::cbrt(3.0 * volume / (4.0 * kPi * 0.56));
  const int lobes = random.uniform() < 0.5 ? 2 : 3;
  for (int l = 0; l < lobes; ++l)
    blob.lobes.push_back(randomLobe(random, radius, l == 0));
  return blob;
}

// A lesion centre inside the brain, on the given side, scattered around the territory.
Point randomCentre(Random &random, int side, double spreadFactor, const Cohort &cohort) {
  const Point core = territoryCentre(side);
  for (int attempt = 0; attempt < 200; ++attempt) {
    const Point p = {core[0] + spreadFactor * kTerritorySpread[0] * random.normal(),
                     core[1] + spreadFactor * kTerritorySpread[1] * random.normal(),
                     core[2] + spreadFactor * kTerritorySpread[2] * random.normal()};
    if (kBrain.radius2(p) <= 0.9 * 0.9 && side * (p[0] - kBrain.centre[0]) >= 3.0 &&
        inTerritory(p, side, cohort))
      return p;
  }
  return core;
}

// The standard normal quantile, by bisection of 0.5 erfc(-z / sqrt 2) = p.
double normalQuantile(double p) {
  double low = -10.0, high = 10.0;
  for (int step = 0; step < 80; ++step) {
    const double mid = 0.5 * (low + high);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? low : high) = mid;
  }
  return 0.5 * (low + high);
}

// One volume per subject at evenly spaced quantiles of the distribution, dealt out at random:
// every seed then gives the study's median and range, not just its distribution.
std::vector<double> randomVolumes(Random &random, int subjects, const Cohort &cohort) {
  std::vector<double> volumes;
  for (int r = 0; r < subjects; ++r) {
    const double z = normalQuantile((r + 0.5) / subjects);
    const double v = cohort.medianVolume * std::exp(z * (z < 0 ? kSpreadBelow : kSpreadAbove));
    volumes.push_back(std::min(kMaxVolume, std::max(kMinVolume, v)));
  }
  for (int n = subjects - 1; n > 0; --n)
    std::swap(volumes[n], volumes[static_cast<int>(random.uniform() * (n + 1))]);
  return volumes;
}

// The lesioned hemisphere of each subject: a fixed share on the other side, at random positions,
// so that the study's figures do not hinge on how many subjects a seed puts there.
std::vector<int> randomSides(Random &random, int subjects, const Cohort &cohort) {
  std::vector<int> sides(subjects, kDominantSide);
  std::vector<int> order(subjects);
  std::iota(order.begin(), order.end(), 0);
  const int others = static_cast<int>(std::lround(subjects * (1.0 - cohort.dominantShare)));
  for (int n = 0; n < others; ++n) {
    const int pick = n + static_cast<int>(random.uniform() * (subjects - n));
    std::swap(order[n], order[pick]);
    sides[order[n]] = -kDominantSide;
  }
  return sides;
}

struct Lesion {
  int side;
  double volume; // template voxels
  std::vector<Blob> blobs;
};

// One to three blobs on one side: most of the volume in the first, the rest in smaller ones.
Lesion randomLesion(Random &random, int side, double volume, const Cohort &cohort) {
  Lesion lesion;
  lesion.side = side;
  lesion.volume = volume;
  const double u = random.uniform();
  const int count = u < 0.55 ? 1 : (u < 0.85 ? 2 : 3);
  std::vector<double> weights = {1.0};
  for (int b = 1; b < count; ++b)
    weights.push_back(random.between(0.15, 0.5));
  const double total = std::accumulate(weights.begin(), weights.end(), 0.0);
  // Some main lesions sit close to the territory's core, the spot most studies share (a third in
  // the territory cohort).
  const double spread = lesion.side != kDominantSide
                            ? cohort.otherSpread
                            : (random.uniform() < cohort.coreShare ? 0.4 : 1.0);
  for (int b = 0; b < count; ++b) {
    const Point centre = randomCentre(random, lesion.side, b == 0 ? spread : 1.0, cohort);
    lesion.blobs.push_back(randomBlob(random, centre, lesion.volume * weights[b] / total));
  }
  return lesion;
}

struct Box {
  int low[3];
  int high[3]; // inclusive
};

// Everything a rasterisation needs about the grid, computed once per study.
struct Canvas {
  Grid grid;
  Stretch stretch;
  Cohort cohort;
  std::vector<unsigned char> brain;
  std::vector<double> templateCoordinate[3]; // per grid index along each axis
  std::vector<unsigned char> states;         // the subject being drawn
  std::vector<Box> touched;                  // boxes with states set since the last clear

  Canvas(const Grid &g, const Cohort &c)
      : grid(g), stretch(g), cohort(c), brain(brainMask(g)), states(g.voxels(), 0) {
    const int extent[3] = {g.x, g.y, g.z};
    for (int a = 0; a < 3; ++a)
      for (int i = 0; i < extent[a]; ++i)
        templateCoordinate[a].push_back(stretch.toTemplate(a, i));
  }

  Box boxAround(const Point &centre, double reach) const {
    const int extent[3] = {grid.x, grid.y, grid.z};
    Box box;
    for (int a = 0; a < 3; ++a) {
      box.low[a] = std::max(0, static_cast<int>(std::floor(stretch.toGrid(a, centre[a] - reach))));
      box.high[a] = std::min(extent[a] - 1,
                             static_cast<int>(std::ceil(stretch.toGrid(a, centre[a] + reach))));
    }
    return box;
  }

  void clear() {
    for (const Box &box : touched)
      for (int k = box.low[2]; k <= box.high[2]; ++k)
        for (int j = box.low[1]; j <= box.high[1]; ++j) {
          const long row = grid.index(0, j, k);
          std::fill(states.begin() + row + box.low[0], states.begin() + row + box.high[0] + 1, 0);
        }
    touched.clear();
  }

  // Sets the lesion's voxels at `scale` (inside the brain and on the lesion's side only) and
  // returns how many there are; the canvas must be clear.
  long draw(const Lesion &lesion, double scale) {
    long count = 0;
    for (const Blob &blob : lesion.blobs) {
      const Box box = boxAround(blob.centre, blob.reach(scale));
      touched.push_back(box);
      for (int k = box.low[2]; k <= box.high[2]; ++k)
        for (int j = box.low[1]; j <= box.high[1]; ++j)
          for (int i = box.low[0]; i <= box.high[0]; ++i) {
            const long v = grid.index(i, j, k);
            const Point p = {templateCoordinate[0][i], templateCoordinate[1][j],
                             templateCoordinate[2][k]};
            if (states[v] || !brain[v] || kBrain.sideOf(p[0]) != lesion.side ||
                !inTerritory(p, lesion.side, cohort) || !blob.contains(p, scale))
              continue;
            states[v] = 1;
            ++count;
          }
    }
    return count;
  }

  // Draws the lesion at the scale that gives its volume on this grid, within 2%, or as close as
  // the brain's edge allows.
  long drawToVolume(const Lesion &lesion) {
    const double target = lesion.volume * stretch.voxelRatio();
    double scale = 1.0;
    for (int attempt = 0;; ++attempt) {
      clear();
      const long count = draw(lesion, scale);
      if (attempt == 8 || (count > 0 && std::fabs(target / count - 1.0) < 0.02))
        return count;
      scale = std::min(6.0, scale * (count > 0 ? std::cbrt(target / count) : 1.5));
    }
  }
};

std::vector<unsigned char> ellipsoidMask(const Grid &grid, const Point &centre,
                                         const double semi[3]) {
  const Stretch stretch(grid);
  std::vector<unsigned char> mask(grid.voxels(), 0);
  for (int k = 0; k < grid.z; ++k)
    for (int j = 0; j < grid.y; ++j)
      for (int i = 0; i < grid.x; ++i) {
        const double dx = (stretch.toTemplate(0, i) - centre[0]) / semi[0];
        const double dy = (stretch.toTemplate(1, j) - centre[1]) / semi[1];
        const double dz = (stretch.toTemplate(2, k) - centre[2]) / semi[2];
        mask[grid.index(i, j, k)] = dx * dx + dy * dy + dz * dz <= 1.0;
      }
  return mask;
}

long countOf(const std::vector<unsigned char> &mask) {
  return std::count(mask.begin(), mask.end(), 1);
}

std::string percent(double part, double whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * part / whole);
  return text;
}

bool writeFileList(const StudyShape &shape, const std::vector<std::string> &paths,
                   const std::vector<int> &outcomes) {
  const std::string listPath = shape.out + "/torva.prj.filelist";
  std::FILE *list = std::fopen(listPath.c_str(), "w");
  if (list == nullptr) {
    std::fprintf(stderr, "make_example_study: cannot create %s\n", listPath.c_str());
    return false;
  }
  std::fprintf(list, "subjects %d\nnodes %ld\nsize %d %d %d\nid file fv\n", shape.subjects,
               shape.grid.voxels() + 1, shape.grid.x, shape.grid.y, shape.grid.z);
  for (std::size_t s = 0; s < paths.size(); ++s)
    std::fprintf(list, "%zu %s %d\n", s + 1, paths[s].c_str(), outcomes[s]);
  return std::fclose(list) == 0;
}

bool writeParcel(const StudyShape &shape, const std::vector<unsigned char> &parcel) {
  const std::string path = shape.out + "/regions.txt";
  std::FILE *description = std::fopen(path.c_str(), "w");
  if (description == nullptr) {
    std::fprintf(stderr, "make_example_study: cannot create %s\n", path.c_str());
    return false;
  }
  for (std::size_t v = 0; v < parcel.size(); ++v)
    if (parcel[v])
      std::fprintf(description, "%zu ", v + 1);
  std::fprintf(description, "\n");
  return std::fclose(description) == 0;
}

void printFigures(const StudyShape &shape, long brainVoxels, const StudyFigures &figures,
                  const std::vector<int> &outcomes) {
  const Grid &g = shape.grid;
  std::printf("wrote %d lesion-like subjects of %d x %d x %d voxels to %s\n", shape.subjects, g.x,
              g.y, g.z, shape.out.c_str());
  std::printf("brain mask: %ld voxels (%s of the grid)\n", brainVoxels,
              percent(brainVoxels, g.voxels()).c_str());
  std::printf("lesion volume in voxels: median %ld, min %ld, max %ld\n", figures.medianVolume,
              figures.minVolume, figures.maxVolume);
  std::printf("voxels lesioned in at least one subject: %ld (%s of the grid)\n",
              figures.hitAtLeastOnce, percent(figures.hitAtLeastOnce, g.voxels()).c_str());
  std::printf("most-hit voxels: lesioned in %d subjects (%s)\n", figures.largestOverlap,
              percent(figures.largestOverlap, shape.subjects).c_str());
  for (std::size_t k = 0; k < kFigureShares.size(); ++k)
    std::printf("voxels lesioned in more than %g %% of the subjects: %ld\n",
                100.0 * kFigureShares[k], figures.overShares[k]);
  std::printf("outcome 1: %ld of %d subjects\n", std::count(outcomes.begin(), outcomes.end(), 1),
              shape.subjects);
}

} // namespace

Cohort wideCohort() {
  Cohort wide;
  wide.dominantShare = 0.65;
  wide.coreShare = 0.0;
  wide.otherSpread = 1.0;
  wide.otherShrink = 1.0;
  wide.medianVolume = 6000.0; // 48 ml
  return wide;
}

std::vector<unsigned char> brainMask(const Grid &grid) {
  const Stretch stretch(grid);
  std::vector<unsigned char> mask(grid.voxels(), 0);
  for (int k = 0; k < grid.z; ++k)
    for (int j = 0; j < grid.y; ++j)
      for (int i = 0; i < grid.x; ++i) {
        const Point p = {stretch.toTemplate(0, i), stretch.toTemplate(1, j),
                         stretch.toTemplate(2, k)};
        mask[grid.index(i, j, k)] = kBrain.radius2(p) <= 1.0;
      }
  return mask;
}

std::vector<unsigned char> parcelMask(const Grid &grid) {
  return ellipsoidMask(grid, kParcelCentre, kParcelSemiAxes);
}

StudyFigures summarize(std::vector<long> volumes, const std::vector<unsigned short> &hits) {
  StudyFigures figures;
  if (!volumes.empty()) {
    std::sort(volumes.begin(), volumes.end());
    const std::size_t n = volumes.size();
    figures.medianVolume = n % 2 ? volumes[n / 2] : (volumes[n / 2 - 1] + volumes[n / 2]) / 2;
    figures.minVolume = volumes.front();
    figures.maxVolume = volumes.back();
  }
  const long subjects = static_cast<long>(volumes.size());
  for (const unsigned short h : hits) {
    figures.hitAtLeastOnce += h > 0;
    figures.largestOverlap = std::max<int>(figures.largestOverlap, h);
    for (std::size_t k = 0; k < kFigureShares.size(); ++k)
      figures.overShares[k] +=
          h > static_cast<long>(static_cast<double>(subjects) * kFigureShares[k]) ? 1 : 0;
  }
  return figures;
}

std::vector<int> outcomesAboveMedian(const std::vector<double> &scores) {
  std::vector<std::size_t> order(scores.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&scores](std::size_t a, std::size_t b) { return scores[a] < scores[b]; });
  std::vector<int> outcomes(scores.size(), 0);
  for (std::size_t r = (scores.size() + 1) / 2; r < order.size(); ++r)
    outcomes[order[r]] = 1;
  return outcomes;
}

int writeLesionLikeStudy(const StudyShape &shape, const ImageWriter &write) {
  Canvas canvas(shape.grid, shape.cohort);
  const std::vector<unsigned char> parcel = parcelMask(shape.grid);
  const long parcelVoxels = std::max(1L, countOf(parcel));
  Random random(shape.seed);
  std::vector<unsigned short> hits(shape.grid.voxels(), 0);
  std::vector<long> volumes;
  std::vector<double> scores;
  std::vector<std::string> paths;
  const std::vector<int> sides = randomSides(random, shape.subjects, shape.cohort);
  const std::vector<double> targetVolumes = randomVolumes(random, shape.subjects, shape.cohort);
  for (int s = 0; s < shape.subjects; ++s) {
    const Lesion lesion = randomLesion(random, sides[s], targetVolumes[s], shape.cohort);
    volumes.push_back(canvas.drawToVolume(lesion));
    long parcelHit = 0;
    for (long v = 0; v < shape.grid.voxels(); ++v) {
      hits[v] += canvas.states[v];
      parcelHit += canvas.states[v] & parcel[v];
    }
    // Outcome: lesion load of the parcel, blurred by everything else that shapes it.
    scores.push_back(static_cast<double>(parcelHit) / parcelVoxels + 0.1 * random.normal());
    char name[32];
    std::snprintf(name, sizeof name, "s%03d.%s", s + 1, shape.extension.c_str());
    paths.push_back(shape.out + "/" + name);
    write(paths.back(), canvas.states);
  }
  const std::vector<int> outcomes = outcomesAboveMedian(scores);
  if (!writeFileList(shape, paths, outcomes) || !writeParcel(shape, parcel))
    return 1;
  printFigures(shape, countOf(canvas.brain), summarize(volumes, hits), outcomes);
  return 0;
}

} // namespace lesionlike
