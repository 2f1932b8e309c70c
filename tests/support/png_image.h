#pragma once
// Decodes a PNG file with libpng into 8-bit RGB, for checking the pictures the tools draw.
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <png.h>

namespace testsupport {

struct DecodedPng {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
  bool ok = false;
  // Channels of pixel (x, y), x to the right and y down from the top-left corner.
  std::vector<int> at(int x, int y) const {
    const std::size_t p = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[p], rgb[p + 1], rgb[p + 2]};
  }
};

inline DecodedPng decodePng(const std::string &path) {
  DecodedPng image;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str()))
    return image;
  png.format = PNG_FORMAT_RGB;
  image.rgb.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
    png_image_free(&png);
    return image;
  }
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.ok = true;
  return image;
}

} // namespace testsupport
