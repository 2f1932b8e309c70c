// What every command answers alike: --help and -h (usage on standard output, status 0),
// --version ("NAME x.y.z", status 0), and a usage problem as one line "NAME: ..." followed by
// the usage on standard error, status 2.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;

struct Command {
  std::string name;
  std::string path;
};

const std::vector<Command> kCommands = {
    {"torvacoreel", TORVACOREEL_PATH},
    {"torvacoreel-prepare", TORVACOREEL_PREPARE_PATH},
    {"torvacoreel-report", TORVACOREEL_REPORT_PATH},
    {"torvacoreel-merge", TORVACOREEL_MERGE_PATH},
    {"torvacoreel-slurm", TORVACOREEL_SLURM_PATH},
    {"torvacoreel-permute", TORVACOREEL_PERMUTE_PATH},
};

std::string firstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

TEST(CommandLineConventions, HelpAndVersionOfEveryCommand) {
  ScopedTempDir dir;
  for (const Command &command : kCommands) {
    for (const char *help : {"--help", "-h"}) {
      EXPECT_EQ(runCommand(command.path + " " + help), 0) << command.name << " " << help;
      const std::string out = readFile("stdout.txt");
      EXPECT_NE(out.find("sage: " + command.name), std::string::npos) << command.name << out;
      EXPECT_NE(out.find("--version"), std::string::npos) << command.name;
      EXPECT_EQ(readFile("stderr.txt"), "") << command.name;
    }
    EXPECT_EQ(runCommand(command.path + " --version"), 0) << command.name;
    EXPECT_EQ(readFile("stdout.txt"), command.name + " " + TORVA_VERSION + "\n");
    EXPECT_EQ(readFile("stderr.txt"), "") << command.name;
  }
}

TEST(CommandLineConventions, UsageProblemsAreOneLineAndTheUsage) {
  ScopedTempDir dir;
  for (const Command &command : kCommands) {
    if (command.name == "torvacoreel")
      continue; // its own conventions: below
    EXPECT_EQ(runCommand(command.path + " --bogus=1 a b c d"), 2) << command.name;
    const std::string err = readFile("stderr.txt");
    EXPECT_EQ(firstLine(err), command.name + ": unknown option --bogus") << err;
    EXPECT_NE(err.find("sage: " + command.name), std::string::npos) << err;
    EXPECT_EQ(readFile("stdout.txt"), "") << command.name;
  }
  const std::vector<std::pair<std::string, std::string>> missingValues = {
      {TORVACOREEL_PREPARE_PATH, "torvacoreel-prepare: option --table needs a value"},
      {TORVACOREEL_REPORT_PATH, "torvacoreel-report: option --out needs a value"},
      {TORVACOREEL_SLURM_PATH, "torvacoreel-slurm: option --shards needs a value"},
      {TORVACOREEL_PERMUTE_PATH, "torvacoreel-permute: option --seed needs a value"},
  };
  const std::vector<std::string> lastOption = {"--table", "--out", "--shards", "--seed"};
  for (std::size_t i = 0; i < missingValues.size(); ++i) {
    EXPECT_EQ(runCommand(missingValues[i].first + " x 1 0 " + lastOption[i]), 2);
    EXPECT_EQ(firstLine(readFile("stderr.txt")), missingValues[i].second);
  }
}

TEST(CommandLineConventions, TheAnalysisAnswersOnlyASingleHelpOrVersion) {
  ScopedTempDir dir;
  // Any other wrong argument count keeps the usage on standard output and status 2.
  for (const char *args : {"", " --help x", " --version x y z", " --bogus", " -v"}) {
    EXPECT_EQ(runCommand(std::string(TORVACOREEL_PATH) + args), 2) << args;
    EXPECT_EQ(firstLine(readFile("stdout.txt")),
              "Usage: torvacoreel fileList method resampling_size")
        << args;
  }
}

} // namespace
