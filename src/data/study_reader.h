#pragma once
// Parsing of the subject file list and loading of one subject's binary map. These functions
// return their failures to the caller; the Samples readers and the driver print them and end
// the process.
#include <string>
#include <vector>

struct SubjectEntry {
  long id = 0;
  std::string path;
  long fv = 0;
};

struct FileList {
  long subjectCount = 0; // K
  // Set when tokens follow the K-th entry: entries beyond the announced count are not used.
  std::string extraEntriesWarning;
  long nodeCount = 0; // n = X*Y*Z + 1
  int x = 0;
  int y = 0;
  int z = 0;
  std::vector<SubjectEntry> subjects;
};

// A failure to report: `message` goes to standard output when `toStdout`, else to standard
// error. An empty message means success.
struct ReadFailure {
  std::string message;
  bool toStdout = false;
  // A failure the readers report when they meet the image in the resampling loop, rather than
  // in the check before the analysis (a missing or unreadable image, an unknown extension or
  // data type).
  bool reportedByReader = false;
  explicit operator bool() const { return !message.empty(); }
};

// Reads the head and every subject entry of the list at `path`. `openMessage` is the text
// reported when the list cannot be opened (the two readers word it differently).
ReadFailure parseFileList(const std::string &path, FileList &list, const std::string &openMessage,
                          bool openMessageToStdout);

// Extents X, Y, Z of a study's volume.
struct VolumeExtents {
  int x = 0;
  int y = 0;
  int z = 0;
};

// Loads the image of `subject` into row[0 .. voxels-1] as 8-bit states (0 or 1) and the
// function variable into row[voxels]. `listPath` only names the list in messages. The image
// must be a regular file at least as long as its header says, with `voxels` voxels per volume;
// given `extents`, its first three extents must be those exactly (an image of the same voxel
// count in another geometry would be read in the wrong order).
ReadFailure loadSubjectRow(const SubjectEntry &subject, long voxels, unsigned char *row,
                           const std::string &listPath, const VolumeExtents *extents = nullptr);

// State of one voxel value of a float image: a finite value of magnitude below 2^31 truncated
// toward zero, low 8 bits; NaN, infinities and larger magnitudes give 0.
unsigned char stateOfFloat(double value);

// Checks the whole study before any analysis for input the analysis cannot use safely: the
// list's structure, the function variables, and every readable image's voxel count and values.
// Failures that the readers themselves report when they meet an image are left to them.
// `warning` receives a note on a list that holds more entries than it announces.
ReadFailure validateStudy(const std::string &listPath, std::string &warning);
ReadFailure validateStudy(const std::string &listPath);

// Memory a run on K subjects of `nodes` nodes holds at its peak: the study decoded as bits and
// the threads' per-voxel working sets. Refused with a message naming the list when beyond reason.
std::string studyMemoryProblem(const std::string &listPath, long subjects, long nodes, int x, int y,
                               int z);
