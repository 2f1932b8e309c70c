#include "report/png_writer.h"

#include <csetjmp>
#include <cstdio>

#include <png.h>

namespace {

// Runs the libpng calls; libpng reports errors by longjmp, so nothing here owns C++ objects.
bool encode(std::FILE *out, const RgbImage &image) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr)
    return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y)
    png_write_row(png, &image.pixels[static_cast<std::size_t>(y) * image.width * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

} // namespace

std::string writePng(const std::string &path, const RgbImage &image) {
  if (image.width < 1 || image.height < 1)
    return "cannot write " + path + ": the picture is empty\n";
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    return "cannot create " + path + "\n";
  const bool encoded = encode(out, image);
  const bool closed = std::fclose(out) == 0;
  if (!encoded || !closed)
    return "cannot write " + path + "\n";
  return std::string();
}
