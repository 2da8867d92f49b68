// SPDX-License-Identifier: MIT
// The command line: what each form parses to, and which mistakes are usage
// errors with which reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/arguments.h"

namespace tarvelin::cli {
namespace {

struct ArgsCase {
  std::vector<std::string> args;
  Command command;  // kNone: a usage error
  const char* expect;  // the reason's words, or the files joined by ',' on success
  std::int32_t mib = kDefaultPieceMiB;
  bool quiet = false;
  bool no_space_check = false;
  const char* folder = "";  // --to or --from
  bool keep = false;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const ArgsCase& c, std::ostream* os) { *os << c.expect; }

std::string Joined(const std::vector<std::string>& files) {
  std::string joined;
  for (const std::string& file : files) joined += (joined.empty() ? "" : ",") + file;
  return joined;
}

class Arguments : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(Arguments, ParseOrGiveTheReason) {
  const ArgsCase& c = GetParam();
  Invocation in;
  std::string error;
  const bool parsed = ParseArguments(c.args, &in, &error);
  if (c.command == Command::kNone) {
    ASSERT_FALSE(parsed);
    EXPECT_NE(std::string::npos, error.find(c.expect)) << error;
    return;
  }
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(c.command, in.command);
  if (c.command == Command::kHelp || c.command == Command::kVersion) return;
  EXPECT_EQ(c.expect, Joined(in.files));
  EXPECT_EQ(c.mib, in.piece_mib);
  EXPECT_EQ(c.quiet, in.quiet);
  EXPECT_EQ(c.no_space_check, in.no_space_check);
  EXPECT_EQ(c.folder, in.piece_folder);
  EXPECT_EQ(c.keep, in.keep);
}

using S = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Table, Arguments,
    ::testing::Values(
        ArgsCase{S{"split", "disk.img"}, Command::kSplit, "disk.img"},
        ArgsCase{S{"split", "disk.img", "--size", "64M"}, Command::kSplit, "disk.img", 64},
        ArgsCase{S{"--size=1G", "split", "d"}, Command::kSplit, "d", 1024},
        ArgsCase{S{"split", "-s", "2", "d", "-q"}, Command::kSplit, "d", 2, true},
        ArgsCase{S{"merge", "--no-space-check", "d"}, Command::kMerge, "d", kDefaultPieceMiB,
                 false, true},
        ArgsCase{S{"verify", "--quiet", "d"}, Command::kVerify, "d", kDefaultPieceMiB, true},
        ArgsCase{S{"fingerprint", "a", "b", "c"}, Command::kFingerprint, "a,b,c"},
        ArgsCase{S{"split", "--", "-odd", }, Command::kSplit, "-odd"},
        ArgsCase{S{"fingerprint", "-"}, Command::kFingerprint, "-"},
        ArgsCase{S{"split", "d", "--to", "/media/stick", "--no-read-back"}, Command::kSplit, "d",
                 kDefaultPieceMiB, false, false, "/media/stick"},
        ArgsCase{S{"--keep", "merge", "--from=/m", "d"}, Command::kMerge, "d", kDefaultPieceMiB,
                 false, false, "/m", true},
        ArgsCase{S{"cat", "-qf", "d", "--from", "m"}, Command::kCat, "d", kDefaultPieceMiB, true,
                 false, "m"},
        ArgsCase{S{"--help"}, Command::kHelp, ""},
        ArgsCase{S{"split", "d", "-h"}, Command::kHelp, ""},
        ArgsCase{S{"bogus", "--help"}, Command::kHelp, ""},
        ArgsCase{S{"--version"}, Command::kVersion, ""},
        ArgsCase{S{"--version", "extra"}, Command::kNone, "--version takes no command or file"},
        // getopt's forms: bundled, attached, or the next word.
        ArgsCase{S{"split", "-s5", "d"}, Command::kSplit, "d", 5},
        ArgsCase{S{"split", "-qs5", "d"}, Command::kSplit, "d", 5, true},
        ArgsCase{S{"split", "-qs", "5", "d"}, Command::kSplit, "d", 5, true},
        ArgsCase{S{"split", "--size", "5", "d"}, Command::kSplit, "d", 5},
        ArgsCase{S{"split", "-qqs", "-5", "d"}, Command::kNone, "'-5' does not start"},
        ArgsCase{S{"split", "d", "-sq"}, Command::kNone, "'q' does not start with a number"},
        ArgsCase{S{"split", "d", "-qs"}, Command::kNone, "-s needs a SIZE"},
        ArgsCase{S{"split", "d", "-qx"}, Command::kNone, "unknown option '-x'"},
        ArgsCase{S{"split", "d", "--quiet=yes"}, Command::kNone, "'--quiet' takes no value"},
        ArgsCase{S{"split", "--", "d", "--"}, Command::kNone, "takes one FILE, given 2"},
        // Usage errors.
        ArgsCase{S{}, Command::kNone, "no command given"},
        ArgsCase{S{"frobnicate", "d"}, Command::kNone, "'frobnicate' is not a command"},
        ArgsCase{S{"split"}, Command::kNone, "split: no FILE given"},
        ArgsCase{S{"split", "a", "b"}, Command::kNone, "takes one FILE, given 2"},
        ArgsCase{S{"merge", "a", "b"}, Command::kNone, "takes one FILE"},
        ArgsCase{S{"merge", "d", "--size", "1"}, Command::kNone, "--size applies to split only"},
        ArgsCase{S{"verify", "d", "--no-space-check"}, Command::kNone,
                 "--no-space-check applies to split and merge only"},
        ArgsCase{S{"split", "d", "--size"}, Command::kNone, "--size needs a SIZE"},
        ArgsCase{S{"split", "d", "--size", "1000MB"}, Command::kNone,
                 "not a whole number of MiB\nSIZE is a whole number of MiB"},
        ArgsCase{S{"split", "d", "--size=0"}, Command::kNone, "less than 1 MiB"},
        ArgsCase{S{"split", "d", "--bogus"}, Command::kNone, "unknown option '--bogus'"},
        ArgsCase{S{"split", "d", "--from", "m"}, Command::kNone,
                 "split: --from applies to merge, verify and cat only (split takes --to)"},
        ArgsCase{S{"cat", "d", "--to", "m"}, Command::kNone, "cat: --to applies to split only"},
        ArgsCase{S{"split", "d", "--to"}, Command::kNone, "--to needs a DIR"},
        ArgsCase{S{"merge", "d", "--from="}, Command::kNone, "--from needs a DIR, not an empty"},
        ArgsCase{S{"split", "d", "--no-read-back"}, Command::kNone,
                 "--no-read-back applies to split --to DIR only"},
        ArgsCase{S{"verify", "d", "--keep"}, Command::kNone, "--keep applies to split and merge"},
        ArgsCase{S{"merge", "d", "-f"}, Command::kNone, "--force applies to cat only"}));

}  // namespace
}  // namespace tarvelin::cli
