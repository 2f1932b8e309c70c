// The configuration reader: any text gives settings (the defaults where it stops) and an echo.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "roi/roi_settings.h"

using fuzzsupport::expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::istringstream in(text);
  RoiSettings settings;
  parseRoiSettings(in, settings);
  expect(std::isfinite(settings.normThreshold) && std::isfinite(settings.beta),
         "real settings are finite");
  expect(settings.representativeShare > 0 && settings.representativeShare < 1,
         "the share the search uses is a share, whatever the file gave");
  double share = 0;
  const bool isShare =
      parseDoubleToken(settings.representativeShareToken, share) && share > 0 && share < 1;
  const std::string problem = settingsProblem(settings);
  if (settings.representativeShareGiven && !isShare)
    expect(!problem.empty(), "a share as written that is no share is refused");
  if (isShare)
    expect(problem.find("representativeShare") == std::string::npos, "a share is not refused");
  std::ostringstream echo;
  echoRoiSettings(settings, echo);
  expect(echo.str().rfind("Setting\n", 0) == 0, "the echo starts with its heading");

  // The whole input as one token: a number comes back only when it is one.
  double real = 0;
  if (parseDoubleToken(text, real))
    expect(std::isfinite(real), "a parsed double is finite");
  int whole = 0;
  if (parseIntToken(text, whole))
    expect(parseDoubleToken(text, real) && real == whole, "a whole number is also a real one");
  return 0;
}
