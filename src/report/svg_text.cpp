#include "report/svg_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// Advance width in em of one character of a regular wide sans-serif face.
double advance(unsigned char c) {
  if (std::isdigit(c))
    return 0.64;
  if (std::isupper(c))
    return c == 'M' || c == 'W' ? 1.0 : c == 'I' || c == 'J' ? 0.32 : 0.75;
  if (c == 'm' || c == 'w')
    return 0.98;
  if (std::strchr("fijlrt", c) != nullptr)
    return 0.42;
  if (std::islower(c))
    return 0.64;
  if (std::strchr(" .,:;'|!", c) != nullptr)
    return 0.34;
  if (std::strchr("()[]{}-", c) != nullptr)
    return 0.40;
  if (std::strchr("=+<>~", c) != nullptr)
    return 0.84;
  if (c == '%')
    return 0.96;
  return c < 0x80 ? 0.7 : 0.5; // bytes of a multi-byte character share about one glyph
}

} // namespace

double textWidth(const std::string &text, double fontSize, bool bold) {
  double em = 0;
  for (const char c : text)
    em += advance(static_cast<unsigned char>(c));
  return em * fontSize * (bold ? 1.12 : 1.0);
}

std::string fixedText(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}
