#pragma once
// From table rows to the subjects of a study: ids, outcomes (with the optional cut), mask paths,
// and the rows left out with the reason.
#include <string>
#include <vector>

#include "prepare/participants_table.h"
#include "prepare/prepare_options.h"

struct PreparedSubject {
  long listId = 0;
  std::string idText;
  std::string imageName; // name of the prepared image under img/
  std::string maskPath;  // the source mask as opened
  std::string outcomeText;
  int outcome = 0;
  long line = 0;
};

struct SubjectSelection {
  std::vector<PreparedSubject> subjects;
  std::vector<std::string> warnings;
  int skippedNoId = 0;
  int skippedOutcome = 0;
  int skippedMissingMask = 0;
};

// Outcome of one value: 1 when it lies beyond the cut, else 0; without a cut the value itself,
// which must be 0 or 1. `problem` is set (and false returned) for a missing value or one that is
// not a number; a value that is neither 0 nor 1 without a cut is returned through `refusal`.
bool outcomeOf(const std::string &text, const PrepareOptions &options, int &outcome,
               std::string &problem, std::string &refusal);

// Chooses the subjects of `table`. Returns an empty string on success, else the refusal: named
// columns absent, an outcome column of other values than 0/1 without a cut, clashing image
// names, missing masks (all listed) unless options.skipMissing, fewer than 2 subjects, or one
// outcome for all.
std::string selectSubjects(const ParticipantsTable &table, const PrepareOptions &options,
                           SubjectSelection &selection);
