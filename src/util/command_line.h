#pragma once
// What every command's command line has in common: options parsed by the C library's
// getopt_long, so "--opt value" and "--opt=value" both work; -h/--help and --version known to
// every command; a usage problem reported as one line "NAME: ..." and the usage, status 2.
#include <string>
#include <utility>
#include <vector>

namespace torva {

struct OptionSpec {
  const char *name; // the long name, without its dashes
  bool takesValue;
};

struct ParsedCommandLine {
  std::vector<std::pair<std::string, std::string>> options; // name and value, in the order given
  std::vector<std::string> operands;                        // in the order given
  bool help = false;                                        // -h or --help
  bool version = false;                                     // --version
};

// Parses `args` (the arguments after the program name). Parsing stops at -h, --help or
// --version, which leave the rest unread. Returns "" or one line without its line end naming
// the problem: "unknown option --x" or "option --x needs a value".
std::string parseCommandLine(const std::vector<std::string> &args,
                             const std::vector<OptionSpec> &specs, ParsedCommandLine &parsed);

// Copies the -h/--help and --version requests of `line`; true when either was made.
bool takeHelpOrVersion(const ParsedCommandLine &line, bool &help, bool &version);

// "NAME x.y.z", the answer to --version.
std::string versionLine(const char *name);

} // namespace torva
