// The shared option parser: both value forms, operands in order around the options, and the
// one-line problems every command prints.
#include <gtest/gtest.h>

#include "util/command_line.h"

namespace {

using torva::OptionSpec;
using torva::parseCommandLine;
using torva::ParsedCommandLine;

const std::vector<OptionSpec> kSpecs = {{"out", true}, {"threshold", true}, {"force", false}};

TEST(CommandLine, BothValueFormsAndOperandsInOrder) {
  ParsedCommandLine line;
  ASSERT_EQ(parseCommandLine({"a", "--out=x=y", "b", "--force", "--threshold", "-0.5", "c"}, kSpecs,
                             line),
            "");
  ASSERT_EQ(line.options.size(), 3u);
  EXPECT_EQ(line.options[0], std::make_pair(std::string("out"), std::string("x=y")));
  EXPECT_EQ(line.options[1], std::make_pair(std::string("force"), std::string()));
  // A value that starts with a dash is still the option's value.
  EXPECT_EQ(line.options[2], std::make_pair(std::string("threshold"), std::string("-0.5")));
  EXPECT_EQ(line.operands, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(line.help || line.version);

  // "--" ends the options: what follows is an operand even when it looks like one.
  ASSERT_EQ(parseCommandLine({"--out", "o", "--", "--force", "-"}, kSpecs, line), "");
  EXPECT_EQ(line.options.size(), 1u);
  EXPECT_EQ(line.operands, (std::vector<std::string>{"--force", "-"}));
  // An empty value is a value; the command decides whether it may be empty.
  ASSERT_EQ(parseCommandLine({"--out="}, kSpecs, line), "");
  EXPECT_EQ(line.options.at(0).second, "");
}

TEST(CommandLine, ProblemsNameTheOptionAsTyped) {
  ParsedCommandLine line;
  EXPECT_EQ(parseCommandLine({"--colour", "red"}, kSpecs, line), "unknown option --colour");
  EXPECT_EQ(parseCommandLine({"--colour=red"}, kSpecs, line), "unknown option --colour");
  EXPECT_EQ(parseCommandLine({"-x"}, kSpecs, line), "unknown option -x");
  EXPECT_EQ(parseCommandLine({"a", "--out"}, kSpecs, line), "option --out needs a value");
  EXPECT_EQ(parseCommandLine({"--force=yes"}, kSpecs, line), "option --force takes no value");
  EXPECT_EQ(parseCommandLine({"--version=2"}, kSpecs, line), "option --version takes no value");
  // The same parser runs again in one process after a failure, from the start.
  ASSERT_EQ(parseCommandLine({"--out", "o"}, kSpecs, line), "");
  EXPECT_EQ(line.options.at(0).second, "o");
}

TEST(CommandLine, HelpAndVersionStopTheParse) {
  ParsedCommandLine line;
  ASSERT_EQ(parseCommandLine({"--out", "o", "--help", "--colour"}, kSpecs, line), "");
  EXPECT_TRUE(line.help);
  ASSERT_EQ(parseCommandLine({"-h"}, kSpecs, line), "");
  EXPECT_TRUE(line.help);
  ASSERT_EQ(parseCommandLine({"x", "--version"}, kSpecs, line), "");
  EXPECT_TRUE(line.version);
  EXPECT_FALSE(line.help);
  // A problem before them is still reported.
  EXPECT_EQ(parseCommandLine({"--colour", "--help"}, kSpecs, line), "unknown option --colour");
  EXPECT_EQ(torva::versionLine("torvacoreel-merge"),
            std::string("torvacoreel-merge ") + TORVA_VERSION);
}

} // namespace
