// SPDX-License-Identifier: MIT
// Linux names are bytes. A source whose name is not UTF-8 (or holds control
// characters) splits into pieces and a manifest named with the same bytes,
// and merges back into a file of that very name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tarvelin/tarvelin.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

struct NameCase {
  const char* label;
  std::string stem;  // the name's bytes before ".img"
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

// The names in `folder` as the system lists them: bytes, sorted.
std::vector<std::string> ListedNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ByteNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ByteNames, SplitAndMergeKeepTheBytesOfTheName) {
  const std::string& stem = GetParam().stem;
  TempDir dir;
  const std::string folder = WideToUtf8(dir.path());
  const std::string source = folder + "/" + stem + ".img";
  const std::string original = PatternBytes(1048576 + 1, 9);  // two pieces of 1 MiB at most
  std::ofstream(source, std::ios::binary) << original;

  const std::wstring wide = Utf8ToWide(source);
  ASSERT_EQ(RC_OK, SplitBigWIM(wide.c_str(), 1));
  EXPECT_EQ(ListedNames(folder),
            (std::vector<std::string>{stem + ".0", stem + ".1", stem + ".DAT"}));
  ASSERT_EQ(RC_OK, MergeIntoWIM(wide.c_str()));
  EXPECT_EQ(ListedNames(folder), std::vector<std::string>{stem + ".img"});
  EXPECT_EQ(original, ReadBytes(source));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ByteNames,
    ::testing::Values(NameCase{"LoneByte", "bad\xFF"}, NameCase{"Latin1", "caf\xE9"},
                      NameCase{"CutSequence", "\xE2\x82" "x"},
                      NameCase{"EncodedEscape", "\xED\xB2\x80"},
                      NameCase{"Controls", "a\x01\nb\r\x1B[31m"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin::testing
