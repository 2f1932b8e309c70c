// Writes a reproducible example study: binary maps with planted regions whose presence is
// associated with a 0/1 outcome, background noise, and the subject file list.
//
//   make_example_study [--out DIR] [--subjects K] [--size X Y Z] [--regions 1..3]
//                      [--type uint8|int16|int32|float32|float64] [--format nii|pair]
//                      [--seed S] [--noise P] [--voxel-size MM] [--lesion]
//                      [--layout participants] [--cohort territory|wide]
//
// --lesion writes a lesion-like study instead (tools/lesion_like.h); --regions and --noise do
// not apply to it. Its --cohort is territory (lesions of one territory, the default) or wide
// (lesions anywhere, the overlaps of a large stroke cohort).
//
// DIR receives s001.nii ... (or .hdr/.img pairs), "torva.prj.filelist" whose image paths are
// DIR/..., and "regions.txt": one line per planted region with its 1-based voxel ids.
// "--layout participants" then rewrites the study as a participants table with compressed masks
// (see participants_layout.h).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <nifti1_io.h>

#include "lesion_like.h"
#include "participants_layout.h"

namespace {

struct Options {
  std::string out = "study";
  int subjects = 40;
  int x = 20;
  int y = 24;
  int z = 20;
  int regions = 3;
  std::string type = "uint8";
  std::string format = "nii";
  unsigned seed = 1;
  double noise = 0.01;
  double mm = 2.0;
  bool lesion = false;
  std::string layout;
  std::string cohort = "territory";
};

[[noreturn]] void usage(const char *why) {
  std::fprintf(stderr,
               "make_example_study: %s\nusage: make_example_study [--out DIR] [--subjects K] "
               "[--size X Y Z] [--regions 1..3] [--type uint8|int16|int32|float32|float64] "
               "[--format nii|pair] [--seed S] [--noise P] [--voxel-size MM] [--lesion] "
               "[--layout participants] [--cohort territory|wide]\n",
               why);
  std::exit(2);
}

Options parseOptions(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char * {
      if (i + 1 >= argc)
        usage(("missing value after " + a).c_str());
      return argv[++i];
    };
    if (a == "--out")
      o.out = next();
    else if (a == "--subjects")
      o.subjects = std::atoi(next());
    else if (a == "--size") {
      o.x = std::atoi(next());
      o.y = std::atoi(next());
      o.z = std::atoi(next());
    } else if (a == "--regions")
      o.regions = std::atoi(next());
    else if (a == "--type")
      o.type = next();
    else if (a == "--format")
      o.format = next();
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(std::strtoul(next(), nullptr, 10));
    else if (a == "--noise")
      o.noise = std::atof(next());
    else if (a == "--voxel-size")
      o.mm = std::atof(next());
    else if (a == "--lesion")
      o.lesion = true;
    else if (a == "--layout")
      o.layout = next();
    else if (a == "--cohort")
      o.cohort = next();
    else
      usage(("unknown option " + a).c_str());
  }
  if (o.subjects < 1 || o.x < 1 || o.y < 1 || o.z < 1 || !(o.mm > 0.0))
    usage("subjects and extents must be positive");
  if (o.regions < 1 || o.regions > 3)
    usage("--regions takes 1, 2 or 3");
  if (o.format != "nii" && o.format != "pair")
    usage("--format takes nii or pair");
  if (!o.layout.empty() && o.layout != "participants")
    usage("--layout takes participants");
  if (o.cohort != "territory" && o.cohort != "wide")
    usage("--cohort takes territory or wide");
  return o;
}

int datatypeOf(const std::string &type) {
  if (type == "uint8")
    return DT_UINT8;
  if (type == "int16")
    return DT_INT16;
  if (type == "int32")
    return DT_INT32;
  if (type == "float32")
    return DT_FLOAT32;
  if (type == "float64")
    return DT_FLOAT64;
  usage(("unknown --type " + type).c_str());
}

// Planted regions: balls at fixed fractions of the volume. The outcome raises the chance that a
// subject's map covers a region, region 1 most strongly.
struct Region {
  double fx, fy, fz;
  double pIfOutcome1, pIfOutcome0;
};
const Region kRegions[3] = {
    {0.30, 0.35, 0.40, 0.85, 0.15}, {0.70, 0.60, 0.50, 0.75, 0.20}, {0.45, 0.75, 0.70, 0.70, 0.25}};

std::vector<std::vector<long>> regionVoxels(const Options &o) {
  const double radius = std::max(1.5, std::min({o.x, o.y, o.z}) / 8.0);
  std::vector<std::vector<long>> regions(o.regions);
  for (int r = 0; r < o.regions; ++r) {
    const double cx = kRegions[r].fx * (o.x - 1);
    const double cy = kRegions[r].fy * (o.y - 1);
    const double cz = kRegions[r].fz * (o.z - 1);
    for (int k = 0; k < o.z; ++k)
      for (int j = 0; j < o.y; ++j)
        for (int i = 0; i < o.x; ++i) {
          const double d2 = (i - cx) * (i - cx) + (j - cy) * (j - cy) + (k - cz) * (k - cz);
          if (d2 <= radius * radius)
            regions[r].push_back(i + static_cast<long>(o.x) * (j + static_cast<long>(o.y) * k));
        }
  }
  return regions;
}

template <typename T> void fill(void *data, const std::vector<unsigned char> &states) {
  T *out = static_cast<T *>(data);
  for (std::size_t i = 0; i < states.size(); ++i)
    out[i] = static_cast<T>(states[i]);
}

void writeImage(const Options &o, const std::string &path,
                const std::vector<unsigned char> &states) {
  int dims[8] = {3, o.x, o.y, o.z, 1, 1, 1, 1};
  const int datatype = datatypeOf(o.type);
  nifti_image *image = nifti_make_new_nim(dims, datatype, 1);
  switch (datatype) {
  case DT_UINT8:
    fill<std::uint8_t>(image->data, states);
    break;
  case DT_INT16:
    fill<std::int16_t>(image->data, states);
    break;
  case DT_INT32:
    fill<std::int32_t>(image->data, states);
    break;
  case DT_FLOAT32:
    fill<float>(image->data, states);
    break;
  default:
    fill<double>(image->data, states);
    break;
  }
  // A template-like geometry: cubic voxels (2 mm by default) with the origin near the volume's
  // centre.
  const float mm = static_cast<float>(o.mm);
  image->dx = image->pixdim[1] = mm;
  image->dy = image->pixdim[2] = mm;
  image->dz = image->pixdim[3] = mm;
  image->xyz_units = NIFTI_UNITS_MM;
  image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
  image->sform_code = NIFTI_XFORM_MNI_152;
  image->qoffset_x = -static_cast<float>(o.mm * o.x / 2);
  image->qoffset_y = -static_cast<float>(o.mm * o.y / 2) - 18.0f;
  image->qoffset_z = -static_cast<float>(o.mm * o.z / 2) + 2.0f;
  image->quatern_b = image->quatern_c = image->quatern_d = 0.0f;
  image->qfac = 1.0f;
  image->qto_xyz = nifti_quatern_to_mat44(0, 0, 0, image->qoffset_x, image->qoffset_y,
                                          image->qoffset_z, mm, mm, mm, 1.0f);
  image->sto_xyz = image->qto_xyz;
  if (nifti_set_filenames(image, path.c_str(), 0, 1) != 0) {
    std::fprintf(stderr, "make_example_study: bad image name %s\n", path.c_str());
    std::exit(1);
  }
  nifti_image_write(image);
  nifti_image_free(image);
}

} // namespace

int main(int argc, char **argv) {
  const Options o = parseOptions(argc, argv);
  mkdir(o.out.c_str(), 0755);
  if (o.lesion)
    return lesionlike::writeLesionLikeStudy(
        {o.out,
         o.format == "nii" ? "nii" : "hdr",
         o.subjects,
         {o.x, o.y, o.z},
         o.seed,
         o.cohort == "wide" ? lesionlike::wideCohort() : lesionlike::Cohort{}},
        [&o](const std::string &path, const std::vector<unsigned char> &states) {
          writeImage(o, path, states);
        });
  const long voxels = static_cast<long>(o.x) * o.y * o.z;
  const auto regions = regionVoxels(o);
  std::mt19937 random(o.seed);
  auto uniform = [&random]() { return random() / 4294967296.0; };

  const std::string listPath = o.out + "/torva.prj.filelist";
  std::FILE *list = std::fopen(listPath.c_str(), "w");
  if (list == nullptr) {
    std::fprintf(stderr, "make_example_study: cannot create %s\n", listPath.c_str());
    return 1;
  }
  std::fprintf(list, "subjects %d\nnodes %ld\nsize %d %d %d\nid file fv\n", o.subjects, voxels + 1,
               o.x, o.y, o.z);
  std::vector<unsigned char> states(voxels);
  for (int s = 0; s < o.subjects; ++s) {
    const int fv = s % 2;
    for (long v = 0; v < voxels; ++v)
      states[v] = uniform() < o.noise ? 1 : 0;
    for (int r = 0; r < o.regions; ++r) {
      const double p = fv == 1 ? kRegions[r].pIfOutcome1 : kRegions[r].pIfOutcome0;
      if (uniform() < p) {
        for (const long v : regions[r])
          states[v] = uniform() < 0.95 ? 1 : 0;
      }
    }
    char name[32];
    std::snprintf(name, sizeof name, "s%03d.%s", s + 1, o.format == "nii" ? "nii" : "hdr");
    const std::string path = o.out + "/" + name;
    writeImage(o, path, states);
    std::string listed = path;
    if (o.format == "pair")
      listed.replace(listed.size() - 3, 3, s % 2 ? "img" : "hdr"); // both names are accepted
    std::fprintf(list, "%d %s %d\n", s + 1, listed.c_str(), fv);
  }
  std::fclose(list);

  std::FILE *description = std::fopen((o.out + "/regions.txt").c_str(), "w");
  if (description == nullptr)
    return 1;
  for (const auto &region : regions) {
    for (const long v : region)
      std::fprintf(description, "%ld ", v + 1);
    std::fprintf(description, "\n");
  }
  std::fclose(description);
  std::printf("wrote %d subjects of %d x %d x %d voxels to %s\n", o.subjects, o.x, o.y, o.z,
              o.out.c_str());
  return o.layout == "participants" ? writeParticipantsLayout(o.out) : 0;
}
