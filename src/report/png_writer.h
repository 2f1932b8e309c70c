#pragma once
#include <string>

#include "report/montage.h"

// Writes `image` as an 8-bit RGB PNG file; an error naming `path`, or an empty string.
std::string writePng(const std::string &path, const RgbImage &image);
