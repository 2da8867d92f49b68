// SPDX-License-Identifier: MIT
// The piece size as people write it: every form that is taken, and every way
// of getting it wrong, with the reason the tool gives.
#include <gtest/gtest.h>

#include <string>

#include "cli/size_grammar.h"

namespace tarvelin::cli {
namespace {

struct SizeCase {
  const char* text;
  std::int32_t mib;    // 0: refused
  const char* reason;  // part of the reason when refused
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.text; }

class SizeGrammar : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeGrammar, ParsesOrRefusesWithItsReason) {
  const SizeCase& c = GetParam();
  std::int32_t mib = -7;
  std::string error;
  const bool parsed = ParseSize(c.text, &mib, &error);
  if (c.mib != 0) {
    ASSERT_TRUE(parsed) << c.text << ": " << error;
    EXPECT_EQ(c.mib, mib) << c.text;
  } else {
    ASSERT_FALSE(parsed) << c.text << " gave " << mib;
    EXPECT_NE(std::string::npos, error.find(c.reason)) << c.text << ": " << error;
    EXPECT_EQ(-7, mib) << "a refused size leaves the value alone";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SizeGrammar,
    ::testing::Values(
        // A plain number counts MiB.
        SizeCase{"1", 1, ""}, SizeCase{"4095", 4095, ""}, SizeCase{"007", 7, ""},
        SizeCase{"2147483647", 2147483647, ""},
        // Powers of 1024, with or without "iB", in either case.
        SizeCase{"3900M", 3900, ""}, SizeCase{"3900MiB", 3900, ""}, SizeCase{"4G", 4096, ""},
        SizeCase{"4GiB", 4096, ""}, SizeCase{"4g", 4096, ""}, SizeCase{"5mib", 5, ""},
        SizeCase{"1024K", 1, ""}, SizeCase{"2048KiB", 2, ""}, SizeCase{"1T", 1048576, ""},
        SizeCase{"2047T", 2146435072, ""},
        // Powers of 1000 when they come to whole MiB.
        SizeCase{"1048576KB", 1000, ""}, SizeCase{"1048576MB", 1000000, ""},
        // Not whole MiB.
        SizeCase{"1000MB", 0, "1000000000 bytes, not a whole number of MiB"},
        SizeCase{"4GB", 0, "not a whole number of MiB"}, SizeCase{"512K", 0, "524288 bytes"},
        SizeCase{"1K", 0, "not a whole number"},
        // Too small or too large.
        SizeCase{"0", 0, "less than 1 MiB"}, SizeCase{"0G", 0, "less than 1 MiB"},
        SizeCase{"2147483648", 0, "more than 2147483647 MiB"},
        SizeCase{"2048T", 0, "more than"}, SizeCase{"99999999999999999999999999", 0, "more than"},
        SizeCase{"99999999999999999999T", 0, "more than"},
        // Not a size at all.
        SizeCase{"", 0, "does not start with a number"}, SizeCase{"M", 0, "does not start"},
        SizeCase{"-1", 0, "does not start"}, SizeCase{"+5", 0, "does not start"},
        SizeCase{" 5", 0, "does not start"}, SizeCase{"1.5G", 0, "'.5G' is not a unit"},
        SizeCase{"5 M", 0, "not a unit"}, SizeCase{"5MiBs", 0, "not a unit"},
        SizeCase{"5B", 0, "not a unit"}, SizeCase{"5P", 0, "not a unit"},
        SizeCase{"5Mi", 0, "not a unit"}));

TEST(SizeGrammar, DefaultIsTheLargestPieceThatFat32Holds) {
  // FAT32 files end at 4 GiB - 1 byte: 4095 MiB fits, 4096 MiB does not.
  const std::uint64_t fat32_largest_file = (std::uint64_t{4} << 30) - 1;
  EXPECT_LE(std::uint64_t{kDefaultPieceMiB} << 20, fat32_largest_file);
  EXPECT_GT(std::uint64_t{kDefaultPieceMiB + 1} << 20, fat32_largest_file);
  EXPECT_EQ(kDefaultPieceMiB + 1, kFat32LimitMiB);
}

}  // namespace
}  // namespace tarvelin::cli
