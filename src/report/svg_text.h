#pragma once
// Text inside the page's SVG charts. A chart is laid out before any browser sees it, so boxes and
// margins are sized from an estimate of each text's width: the advance widths of a wide sans-serif
// face (the page asks for sans-serif; the widest common default is used so boxes err on the large
// side).
#include <string>

// Estimated width in pixels of `text` drawn at `fontSize` pixels.
double textWidth(const std::string &text, double fontSize, bool bold = false);

// "%.*f" of `value`.
std::string fixedText(double value, int decimals);
