// SPDX-License-Identifier: MIT
// The shell's extension rules, which the POSIX backend imitates; the table is
// what the shell itself answers.
#include <string>

#include <gtest/gtest.h>

#include "platform/path_rules.h"

namespace tarvelin {
namespace {

struct Case {
  const wchar_t* path;
  const wchar_t* extension;
};

const Case kCases[] = {
    {L"C:\\images\\install.wim", L".wim"},
    {L"install", L""},
    {L"archive.tar.gz", L".gz"},
    {L"C:\\dotted.dir\\install", L""},
    {L"C:\\dotted.dir\\install.swm", L".swm"},
    {L"image.0", L".0"},
    {L"trailing.", L"."},
    {L".hidden", L".hidden"},
    {L"spaced. ext", L""},  // a space after the dot cancels the extension
    {L"spaced name.wim", L".wim"},
    {L"", L""},
};

TEST(Win32PathRulesTest, FindExtensionPointsIntoThePath) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.path)));
    const wchar_t* extension = FindExtension(c.path);
    ASSERT_GE(extension, c.path);
    EXPECT_EQ(std::wstring(extension), c.extension);
    EXPECT_EQ(extension + std::wstring(extension).size(), c.path + std::wstring(c.path).size());
  }
}

TEST(Win32PathRulesTest, RemoveExtensionCutsExactlyThatExtension) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.path)));
    std::wstring path(c.path);
    std::wstring buffer = path;
    buffer.push_back(L'\0');
    RemoveExtension(&buffer[0]);
    EXPECT_EQ(std::wstring(buffer.c_str()),
              path.substr(0, path.size() - std::wstring(c.extension).size()));
  }
}

}  // namespace
}  // namespace tarvelin
