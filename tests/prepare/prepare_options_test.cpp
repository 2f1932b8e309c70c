// The options of torvacoreel-prepare: both value forms, and the refusals users meet first.
#include <gtest/gtest.h>

#include "prepare/prepare_options.h"

namespace {

const std::vector<std::string> kNeeded = {"--table",          "t.tsv", "--id-column", "id",
                                          "--outcome-column", "score", "--out",       "study"};

std::vector<std::string> with(std::vector<std::string> extra) {
  std::vector<std::string> args = kNeeded;
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(PrepareOptions, ReadsBothValueForms) {
  PrepareOptions options;
  ASSERT_EQ(parsePrepareArguments(with({"--image=masks/{id}.nii.gz", "--above=2.5", "--threshold",
                                        "0.5", "--downsample=2", "--force"}),
                                  options),
            "");
  EXPECT_EQ(options.imagePattern, "masks/{id}.nii.gz");
  EXPECT_EQ(options.cut, PrepareOptions::Cut::Above);
  EXPECT_EQ(options.cutValue, 2.5);
  EXPECT_TRUE(options.hasThreshold);
  EXPECT_EQ(options.threshold, 0.5);
  EXPECT_EQ(options.downsample, 2);
  EXPECT_TRUE(options.force);
  EXPECT_FALSE(options.skipMissing);
  // A negative cut is a value, not an option.
  ASSERT_EQ(parsePrepareArguments(with({"--image-column", "mask", "--below", "-1"}), options), "");
  EXPECT_EQ(options.cut, PrepareOptions::Cut::Below);
  EXPECT_EQ(options.cutValue, -1.0);
}

TEST(PrepareOptions, RefusalsNameTheProblem) {
  PrepareOptions options;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {with({"--image", "m", "--above", "x"}), "--above needs a number, not 'x'"},
      {with({"--image", "m", "--threshold=high"}), "--threshold needs a number, not 'high'"},
      {with({"--image", "m", "--above", "1", "--below", "2"}), "give only one of --above"},
      {with({"--image", "m", "--downsample", "3"}), "--downsample takes 2"},
      {with({"--image", "m", "--image-column", "c"}), "give exactly one of --image"},
      {with({"--image", "m", "extra"}), "unexpected argument extra"},
      {with({"--image", "m", "--colour", "red"}), "unknown option --colour"},
      {with({"--image"}), "option --image needs a value"},
      {{"--image", "m", "--out", "s"}, "--table, --id-column, --outcome-column and --out"},
  };
  for (const auto &[args, fragment] : cases)
    EXPECT_NE(parsePrepareArguments(args, options).find(fragment), std::string::npos) << fragment;
  ASSERT_EQ(parsePrepareArguments({"--table", "t", "--help"}, options), "");
  EXPECT_TRUE(options.help);
}

} // namespace
