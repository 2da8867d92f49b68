// SPDX-License-Identifier: MIT
// The extension rules of the shell, on the names that the split and the merge
// derive. Written with '/' and run with the system's own separator, so that
// the same table holds for the POSIX rules and for the real Windows functions.
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "platform/path_rules.h"

namespace tarvelin {
namespace {

std::wstring Native(std::wstring path) {
#if defined(_WIN32)
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
#endif
  return path;
}

TEST(PathRulesTest, TheExtensionIsTheLastDotOfTheLastComponent) {
  struct Case {
    const wchar_t* path;
    const wchar_t* extension;
  } const cases[] = {
      {L"image.wim", L".wim"},
      {L"a/b/image.wim", L".wim"},
      {L"image.wim.DAT", L".DAT"},     // several dots: only the last counts
      {L"image.wim.0", L".0"},
      {L"image", L""},                 // no dot
      {L"folder.d/image", L""},        // a dot in a folder name is no extension
      {L"folder.d/image.e", L".e"},
      {L"image. wim", L""},            // a space after the dot cancels it
      {L"my image.wim", L".wim"},      // a space before the dot does not
      {L"image.w m", L""},
      {L"image.", L"."},               // a trailing dot is an empty extension
      {L"a..b", L".b"},
      {L".profile", L".profile"},      // a leading dot starts the extension
      {L"folder/.profile", L".profile"},
      {L"folder.d/", L""},
      {L"folder.d/ e", L""},
      {L"image.w ", L""},
      {L"image .w", L".w"},
      {L".", L"."},
      {L"..", L"."},
      {L"image.w:x", L".w:x"},        // ':' separates nothing
      {L"", L""},
  };
  for (const Case& c : cases) {
    const std::wstring path = Native(c.path);
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    const wchar_t* extension = FindExtension(path.c_str());
    ASSERT_GE(extension, path.c_str());
    ASSERT_LE(extension, path.c_str() + path.size());
    EXPECT_EQ(std::wstring(extension), Native(c.extension));

    std::wstring cut = path;
    RemoveExtension(&cut[0]);
    EXPECT_EQ(std::wstring(cut.c_str()), path.substr(0, path.size() - std::wcslen(c.extension)));
  }
}

}  // namespace
}  // namespace tarvelin
