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
  long nodeCount = 0;    // n = X*Y*Z + 1
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

// Loads the image of `subject` into row[0 .. voxels-1] as 8-bit states (0 or 1) and the
// function variable into row[voxels]. `listPath` only names the list in messages.
ReadFailure loadSubjectRow(const SubjectEntry &subject, long voxels, unsigned char *row,
                           const std::string &listPath);

// State of one voxel value of a float image: a finite value of magnitude below 2^31 truncated
// toward zero, low 8 bits; NaN, infinities and larger magnitudes give 0.
unsigned char stateOfFloat(double value);

// Checks the whole study before any analysis for input the analysis cannot use safely: the
// list's structure, the function variables, and every readable image's voxel count and values.
// Failures that the readers themselves report when they meet an image are left to them.
ReadFailure validateStudy(const std::string &listPath);
