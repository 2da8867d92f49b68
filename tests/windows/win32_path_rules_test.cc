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

// The names that open a device, as the system itself tells them
// (RtlIsDosDeviceName_U, which CreateFileW consults): every name that it
// calls a device is one here too, in any folder; this side also refuses the
// few that newer systems add (COM0, the superscript digits).
TEST(Win32PathRulesTest, DeviceNamesAreThoseTheSystemOpensAsDevices) {
  using IsDosDeviceName = ULONG(WINAPI*)(const wchar_t*);
  const auto system_says = reinterpret_cast<IsDosDeviceName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlIsDosDeviceName_U")));
  ASSERT_NE(system_says, nullptr);
  const wchar_t* const kNames[] = {
      L"NUL", L"nul.img", L"Aux", L"aux.tar.gz", L"CON.DAT", L"prn.0", L"COM1", L"com9.x",
      L"LPT1.wim", L"lpt9", L"nul .img", L"C:\\images\\con.wim", L"C:/images/NUL.DAT",
      L"C:nul.img", L"CONIN$", L"conout$.txt"};
  int devices = 0;
  for (const wchar_t* name : kNames) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(name)));
    if (system_says(name) != 0) {
      ++devices;
      EXPECT_TRUE(IsDeviceName(name));
    }
  }
  EXPECT_GE(devices, 12) << "the system's own answer decides most of the table";
  const wchar_t* const kFiles[] = {L"null.img", L"disk.img", L"auxiliary.wim", L"COM10",
                                   L"LPT", L"con1", L"C:\\nul\\disk.img", L"my nul.img",
                                   L"nul-disk.img"};
  for (const wchar_t* name : kFiles) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(name)));
    EXPECT_FALSE(IsDeviceName(name));
    EXPECT_EQ(0u, system_says(name));
  }
  for (const wchar_t* name : {L"COM0", L"LPT0", L"COM\u00B9.img"}) EXPECT_TRUE(IsDeviceName(name));
}

}  // namespace
}  // namespace tarvelin
