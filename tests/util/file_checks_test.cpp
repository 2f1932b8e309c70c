// Refusals made before opening or allocating: non-regular files and memory beyond reason.
#include "util/file_checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace {

using namespace torva;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(FileChecks, NonRegularInputsAreNamedByKindWithoutOpeningThem) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("plain", "x");
  ASSERT_EQ(mkdir("folder", 0755), 0);
  ASSERT_EQ(mkfifo("pipe", 0644), 0); // opening it for reading would block this test
  EXPECT_EQ(inputFileProblem("plain", "image"), "");
  EXPECT_EQ(inputFileProblem("folder", "image"), "image folder is a directory, not a regular file");
  EXPECT_EQ(inputFileProblem("pipe", "mask"),
            "mask pipe is a FIFO (named pipe), not a regular file");
  EXPECT_EQ(inputFileProblem("gone", "image"),
            "image gone cannot be found: No such file or directory");
  EXPECT_EQ(nonRegularKind("/dev/null"), "a character device");
  EXPECT_EQ(nonRegularKind("gone"), "") << "absence is the opener's to report";
}

TEST(FileChecks, ProductsSaturateInsteadOfWrapping) {
  // 32767^3 bytes twice over twelve subjects: about 768 TiB, far from the 64-bit limit.
  EXPECT_EQ(saturatingProduct(35181150961664ULL, 24), 844347623079936ULL);
  EXPECT_EQ(saturatingProduct(std::uint64_t(1) << 32, std::uint64_t(1) << 32), kMax);
  EXPECT_EQ(saturatingProduct(0, kMax), 0u);
}

TEST(FileChecks, AmountsAreShownInBinaryUnits) {
  EXPECT_EQ(describeBytes(608), "608 bytes");
  EXPECT_EQ(describeBytes(1536), "1.5 KiB");
  EXPECT_EQ(describeBytes(std::uint64_t(3) << 30), "3.0 GiB");
  EXPECT_EQ(describeBytes(844347623079936ULL), "767.9 TiB");
  EXPECT_EQ(describeBytes(kMax), "more than 16 EiB");
}

TEST(FileChecks, MemoryNeedIsRefusedOnlyAboveThePhysicalMemory) {
  const std::uint64_t limit = memoryLimitBytes();
  EXPECT_EQ(memoryNeedProblem(limit, "a study"), "");
  const std::string refused = memoryNeedProblem(limit + 1, "a study");
  EXPECT_EQ(refused.rfind("a study would need ", 0), 0u) << refused;
  EXPECT_NE(refused.find("this machine has " + describeBytes(limit)), std::string::npos);
  EXPECT_NE(memoryNeedProblem(kMax, "x").find("more than 16 EiB"), std::string::npos);
}

} // namespace
