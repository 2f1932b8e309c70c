#include "util/whole_number.h"

#include <climits>

namespace {

// The blanks of the C locale's isspace, which strtol skips before a number.
bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

WholeNumber parseDigits(std::string_view text, unsigned long long most, unsigned long long &value) {
  if (text.empty())
    return WholeNumber::NotWhole;
  unsigned long long sum = 0;
  bool beyond = false;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return WholeNumber::NotWhole;
    const auto digit = static_cast<unsigned long long>(c - '0');
    // sum * 10 + digit > most, written so that nothing overflows.
    if (beyond || sum > most / 10 || digit > most - sum * 10)
      beyond = true;
    else
      sum = sum * 10 + digit;
  }
  if (beyond)
    return WholeNumber::OutOfRange;
  value = sum;
  return WholeNumber::Ok;
}

WholeNumber parseWholeNumber(std::string_view text, long long least, long long most,
                             long long &value) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+'))
    text.remove_prefix(1);
  // The magnitude of LLONG_MIN is one more than LLONG_MAX.
  const unsigned long long largest =
      static_cast<unsigned long long>(LLONG_MAX) + (negative ? 1 : 0);
  unsigned long long magnitude = 0;
  const WholeNumber digits = parseDigits(text, largest, magnitude);
  if (digits != WholeNumber::Ok)
    return digits;
  long long signedValue = LLONG_MIN;
  if (!negative || magnitude != largest)
    signedValue = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  if (signedValue < least || signedValue > most)
    return WholeNumber::OutOfRange;
  value = signedValue;
  return WholeNumber::Ok;
}

bool wholeNumberOf(std::string_view text, long &value) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  long long parsed = 0;
  if (parseWholeNumber(text, LONG_MIN, LONG_MAX, parsed) != WholeNumber::Ok)
    return false;
  value = static_cast<long>(parsed);
  return true;
}
