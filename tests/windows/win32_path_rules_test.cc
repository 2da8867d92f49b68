// SPDX-License-Identifier: MIT
// The shell's extension rules, which the POSIX backend imitates; the table is
// what the shell itself answers, with '/' a folder separator as '\\' is.
#include <string>

#include <gtest/gtest.h>

#include "platform/path_rules.h"
#include "platform/win32/api.h"

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
    {L"C:\\a.b\\c", L""},
    {L"C:/a.b/c", L""},  // the shell alone answers ".b/c"
    {L"C:/a.b\\c", L""},
    {L"C:\\a/b.c", L".c"},
    {L"C:/data/backup.2020/disk", L""},
    {L"C:/data/backup.2020/disk.img", L".img"},
    {L"a.b/", L""},
    {L"a.b/ c", L""},
    {L"x.", L"."},
    {L".x", L".x"},
    {L"a/.x", L".x"},
    {L"x. y", L""},
    {L"x.y ", L""},
    {L"x.y z", L""},
    {L"x .y", L".y"},
    {L"a.b c.d", L".d"},
    {L"..", L"."},
    {L".", L"."},
    {L"a..b", L".b"},
    {L"a.b:c", L".b:c"},  // neither ':' nor a tab separates
    {L"C:.x", L".x"},
    {L"a.b\tc", L".b\tc"},
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

// Our rule on a path is the shell's on the same path with every '/' turned
// into '\\', so the table above is checked against the shell itself.
TEST(Win32PathRulesTest, SlashesSeparateAsBackslashesDoForTheShell) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.path)));
    std::wstring backslashed(c.path);
    for (wchar_t& character : backslashed) {
      if (character == L'/') character = L'\\';
    }
    EXPECT_EQ(FindExtension(c.path) - c.path,
              ::PathFindExtensionW(backslashed.c_str()) - backslashed.c_str());
  }
}

}  // namespace
}  // namespace tarvelin
