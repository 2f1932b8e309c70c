#include "participants_layout.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

#include <nifti1_io.h>

#include "data/study_reader.h"

namespace {

// Stored value of a lesioned voxel for each of the three mask types used in turn.
struct MaskKind {
  int datatype;
  double lesionValue;
};
const MaskKind kMaskKinds[3] = {{DT_UINT8, 1.0}, {DT_INT16, 100.0}, {DT_FLOAT32, 0.8}};

template <typename T> void fillMask(void *data, const std::vector<bool> &lesioned, double value) {
  T *out = static_cast<T *>(data);
  for (std::size_t i = 0; i < lesioned.size(); ++i)
    out[i] = static_cast<T>(lesioned[i] ? value : 0.0);
}

std::vector<bool> lesionedVoxels(const nifti_image &image) {
  std::vector<bool> lesioned(image.nvox);
  const auto bytes = static_cast<const unsigned char *>(image.data);
  for (std::size_t i = 0; i < image.nvox; ++i) {
    bool nonzero = false;
    for (int b = 0; b < image.nbyper; ++b)
      nonzero = nonzero || bytes[i * image.nbyper + b] != 0;
    lesioned[i] = nonzero;
  }
  return lesioned;
}

// Re-stores `image` in the type of `kind` and writes it compressed to `path`.
bool writeMask(nifti_image *image, const MaskKind &kind, const std::string &path) {
  const std::vector<bool> lesioned = lesionedVoxels(*image);
  int swapSize = 0;
  nifti_datatype_sizes(kind.datatype, &image->nbyper, &swapSize);
  image->datatype = kind.datatype;
  std::free(image->data);
  image->data = std::calloc(image->nvox, static_cast<std::size_t>(image->nbyper));
  if (kind.datatype == DT_UINT8)
    fillMask<std::uint8_t>(image->data, lesioned, kind.lesionValue);
  else if (kind.datatype == DT_INT16)
    fillMask<std::int16_t>(image->data, lesioned, kind.lesionValue);
  else
    fillMask<float>(image->data, lesioned, kind.lesionValue);
  if (nifti_set_filenames(image, path.c_str(), 0, 1) != 0)
    return false;
  nifti_image_write(image);
  return true;
}

// A modified Rankin-like score: 3 .. 6 for outcome 1, 0 .. 2 for outcome 0; every tenth
// participant has none recorded.
std::string scoreOf(int index, long fv) {
  if (index % 10 == 9)
    return "n/a";
  return std::to_string(fv == 1 ? 3 + index % 4 : index % 3);
}

// Removes a ".nii" file or both files of a ".hdr"/".img" pair, whichever name was listed.
void removeImage(const std::string &path) {
  std::remove(path.c_str());
  const std::string stem = path.substr(0, path.size() - 3);
  if (path.compare(path.size() - 3, 3, "hdr") == 0)
    std::remove((stem + "img").c_str());
  else if (path.compare(path.size() - 3, 3, "img") == 0)
    std::remove((stem + "hdr").c_str());
}

std::string participantId(int index) {
  char id[16];
  std::snprintf(id, sizeof id, "sub-%03d", index + 1);
  return id;
}

} // namespace

int writeParticipantsLayout(const std::string &folder) {
  const std::string listPath = folder + "/torva.prj.filelist";
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "cannot read " + listPath, false)) {
    std::fprintf(stderr, "make_example_study: %s", problem.message.c_str());
    return 1;
  }
  mkdir((folder + "/masks").c_str(), 0755);
  std::FILE *table = std::fopen((folder + "/participants.tsv").c_str(), "w");
  if (table == nullptr) {
    std::fprintf(stderr, "make_example_study: cannot create %s/participants.tsv\n", folder.c_str());
    return 1;
  }
  std::fprintf(table, "participant_id\tage\trankin\n");
  const int subjects = static_cast<int>(list.subjects.size());
  for (int s = 0; s < subjects + 2; ++s) {
    const std::string id = participantId(s);
    const long fv = s < subjects ? list.subjects[s].fv : 0;
    std::fprintf(table, "%s\t%d\t%s\n", id.c_str(), 40 + (7 * s) % 41, scoreOf(s, fv).c_str());
    if (s >= subjects)
      continue; // listed in the table, but no mask was ever made
    const std::string &source = list.subjects[s].path;
    nifti_image *image = nifti_image_read(source.c_str(), 1);
    const bool written = image != nullptr && writeMask(image, kMaskKinds[s % 3],
                                                       folder + "/masks/" + id + "_lesion.nii.gz");
    nifti_image_free(image);
    if (!written) {
      std::fprintf(stderr, "make_example_study: cannot rewrite %s\n", source.c_str());
      std::fclose(table);
      return 1;
    }
    removeImage(source);
  }
  std::fclose(table);
  std::remove(listPath.c_str());
  return 0;
}
