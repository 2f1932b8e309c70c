#pragma once
// The example study rewritten as users receive lesion studies: a participants table with a
// clinical score and one compressed mask per participant.
#include <string>

// Rewrites the study just written in `folder` (its torva.prj.filelist and images) as
// `folder/participants.tsv` (participant_id sub-001 ..., age, rankin with some "n/a") and
// `folder/masks/sub-001_lesion.nii.gz` ... in uint8 (0/1), int16 (0/100) and float32 (0/0.8)
// by turns. Outcome 1 subjects get a score above 2. Two extra participants have no mask. The
// plain images and the list are removed; regions.txt stays. Returns the process status.
int writeParticipantsLayout(const std::string &folder);
