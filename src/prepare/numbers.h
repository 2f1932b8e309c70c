#pragma once
// Numbers in table cells and messages.
#include <string>

// True when all of `text` is a finite number.
bool parseFinite(const std::string &text, double &value);

// `value` in the shortest of the usual forms ("%g": 2, 0.5, 1264, 1e+06).
std::string numberText(double value);
