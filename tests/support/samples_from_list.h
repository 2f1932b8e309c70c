#pragma once
// A whole Samples matrix read straight from a subject file list, the plain reading against which
// the decoded study and its views are checked (and which the region benchmark can load).
#include <vector>

#include "data/samples.h"

// Every subject of the list as cases 0, 1, ..., printing a subject line each; ends the process
// on an input error.
void readFilelistNifti(Samples &samples, const char *listPath);

// The subjects at `positions` of the list (repeats allowed) as cases 0, 1, ...; ends the
// process on an input error.
void readFilelistSubsetNifti(Samples &samples, const char *listPath,
                             const std::vector<int> &positions);
