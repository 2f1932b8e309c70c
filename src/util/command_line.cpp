#include "util/command_line.h"

#include <cstdio>
#include <getopt.h>

namespace torva {
namespace {

constexpr int kHelp = 'h';
constexpr int kVersion = 1;
constexpr int kFirstSpec = 256; // getopt_long's value of specs[i] is kFirstSpec + i

std::vector<option> longOptions(const std::vector<OptionSpec> &specs) {
  std::vector<option> table;
  for (std::size_t i = 0; i < specs.size(); ++i)
    table.push_back({specs[i].name, specs[i].takesValue ? required_argument : no_argument, nullptr,
                     kFirstSpec + static_cast<int>(i)});
  table.push_back({"help", no_argument, nullptr, kHelp});
  table.push_back({"version", no_argument, nullptr, kVersion});
  table.push_back({nullptr, 0, nullptr, 0});
  return table;
}

// The option as typed, for the message: the long option getopt_long just read (without a
// value after '='), or the short option's letter.
std::string typedOption(char *const *argv, int next) {
  std::string typed = argv[next - 1];
  if (typed.rfind("--", 0) == 0) {
    if (const std::size_t equals = typed.find('='); equals != std::string::npos)
      typed.erase(equals);
    return typed;
  }
  if (optopt > 0 && optopt < 128)
    return std::string("-") + static_cast<char>(optopt);
  return typed;
}

// Whether getopt_long refused a known option: one that takes no value, given "--name=value".
bool refusedKnownOption() { return optopt == kHelp || optopt == kVersion || optopt >= kFirstSpec; }

} // namespace

std::string parseCommandLine(const std::vector<std::string> &args,
                             const std::vector<OptionSpec> &specs, ParsedCommandLine &parsed) {
  parsed = ParsedCommandLine{};
  std::vector<std::string> copies;
  copies.reserve(args.size() + 1);
  copies.emplace_back("command");
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &arg : copies)
    argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const std::vector<option> table = longOptions(specs);
  const int argc = static_cast<int>(copies.size());
  opterr = 0; // the messages are this command's own
  optind = 0; // a full restart, so a process can parse more than one command line
  for (;;) {
    optopt = 0;
    const int c = getopt_long(argc, argv.data(), ":h", table.data(), nullptr);
    if (c == -1)
      break;
    if (c == kHelp) {
      parsed.help = true;
      return std::string();
    }
    if (c == kVersion) {
      parsed.version = true;
      return std::string();
    }
    if (c == ':')
      return "option " + typedOption(argv.data(), optind) + " needs a value";
    if (c < kFirstSpec)
      return (refusedKnownOption()
                  ? "option " + typedOption(argv.data(), optind) + " takes no value"
                  : "unknown option " + typedOption(argv.data(), optind));
    const OptionSpec &known = specs[static_cast<std::size_t>(c - kFirstSpec)];
    parsed.options.emplace_back(known.name, known.takesValue ? optarg : "");
  }
  // getopt_long has moved the operands behind the options, in their order.
  for (int i = optind; i < argc; ++i)
    parsed.operands.emplace_back(argv[static_cast<std::size_t>(i)]);
  return std::string();
}

bool takeHelpOrVersion(const ParsedCommandLine &line, bool &help, bool &version) {
  help = line.help;
  version = line.version;
  return help || version;
}

std::string versionLine(const char *name) { return std::string(name) + " " + TORVA_VERSION; }

} // namespace torva
