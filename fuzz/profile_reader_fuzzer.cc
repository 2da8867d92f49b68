// SPDX-License-Identifier: MIT
// The profile reader over any bytes at all: a manifest that a user edited,
// truncated or that came from elsewhere must never crash the reader, and the
// document must stay self-consistent through the edits that a split makes.
//
// Properties checked for each input:
// - the document keeps the bytes exactly as given;
// - every section and key that the document lists is found by lookup;
// - after a planned edit (one per input: a new piece key appended to the
//   last section, an existing value changed, a new section, a key or a
//   section removed), the edited document answers every lookup as a fresh
//   parse of its text does, and a set key reads back as set;
// - the profile store, reading the same bytes from a file, returns what the
//   document holds, and a value it writes reads back (every fourth input).
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/scratch_folder.h"
#include "platform/posix/ini_document.h"
#include "platform/posix/profile.h"
#include "platform/utf8.h"

namespace tarvelin::fuzz {
namespace {

constexpr std::size_t kMostNamesChecked = 64;

// Every lookup that `document` can answer, compared with a fresh parse.
void ExpectSameAsFreshParse(const IniDocument& document) {
  const IniDocument fresh = ParseIni(document.text());
  const auto sections = document.SectionNames();
  if (sections != fresh.SectionNames()) Violation("section names differ from a fresh parse");
  std::size_t checked = 0;
  for (std::string_view section : sections) {
    const auto keys = document.KeyNames(section);
    if (keys != fresh.KeyNames(section)) Violation("key names differ from a fresh parse");
    for (std::string_view key : keys) {
      if (++checked > kMostNamesChecked) return;
      const auto value = document.Find(section, key);
      if (!value) Violation("a listed key is not found");
      if (value != fresh.Find(section, key)) Violation("a value differs from a fresh parse");
    }
  }
}

void ApplyAndCheck(IniDocument* document, const std::optional<IniEdit>& edit) {
  if (!edit) return;
  document->Apply(*edit);
  ExpectSameAsFreshParse(*document);
}

void CheckSet(IniDocument document, std::string_view section, std::string_view key,
              std::string_view value) {
  if (!IsWritableIniEntry(section, key, value)) return;
  ApplyAndCheck(&document, document.PlanSet(section, key, value));
  if (document.Find(section, key) != TrimIniBlanks(value))
    Violation("a set value does not read back");
}

// What the profile store should return for a value that the document holds:
// quotes dropped, cut at a NUL, as wide text.
std::wstring AsReturned(std::string_view value, std::size_t capacity) {
  value = StripValueQuotes(value);
  value = value.substr(0, value.find('\0'));
  std::wstring wide = Utf8ToWide(std::string(value));
  if (wide.size() > capacity - 1) wide.resize(capacity - 1);
  return wide;
}

// A name that survives the trip to wide text and back, and so reaches the
// store unchanged.
bool SurvivesWideTrip(std::string_view name) {
  return name.find('\0') == std::string_view::npos &&
         WideToUtf8(Utf8ToWide(std::string(name))) == name;
}

void CheckProfileStore(const std::string& bytes, const IniDocument& document) {
  const std::string path = ScratchFolder() + "/profile.ini";
  WriteNewFile(path, bytes);
  const std::wstring wide_path = Utf8ToWide(path);
  posix::ProfileStore store;
  wchar_t buffer[64];
  std::size_t checked = 0;
  for (std::string_view section : document.SectionNames()) {
    if (!SurvivesWideTrip(section)) continue;
    for (std::string_view key : document.KeyNames(section)) {
      if (!SurvivesWideTrip(key) || ++checked > 8) break;
      const std::wstring wide_section = Utf8ToWide(std::string(section));
      const std::wstring wide_key = Utf8ToWide(std::string(key));
      store.Get(wide_section.c_str(), wide_key.c_str(), L"?", buffer, 64, wide_path.c_str());
      if (AsReturned(*document.Find(section, key), 64) != buffer) {
        Violation("the profile store returns another value than the document holds");
      }
    }
  }
  // A split's next write: a new piece key in the piece section.
  const wchar_t kValue[] = L"00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
  if (!store.Put(L"SplitImageMD5", L"MD5_VALUE7", kValue, wide_path.c_str())) {
    Violation("a profile write to a scratch file failed");
  }
  store.Get(L"SplitImageMD5", L"MD5_VALUE7", L"", buffer, 64, wide_path.c_str());
  if (std::wcscmp(buffer, kValue) != 0) Violation("a written value does not read back");
  std::string written;
  ReadWholeFile(path, &written);
  if (ParseIni(written).Find("SplitImageMD5", "MD5_VALUE7") !=
      std::string_view("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF")) {
    Violation("the file does not hold the written value");
  }
}

}  // namespace
}  // namespace tarvelin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvelin;
  using namespace tarvelin::fuzz;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const IniDocument document = ParseIni(bytes);
  if (document.text() != bytes) Violation("the document does not keep the bytes");
  ExpectSameAsFreshParse(document);

  // One edit per input, picked by its length, keeps a run cheap; the fuzzer
  // reaches every edit by changing lengths.
  const auto sections = document.SectionNames();
  const auto first_keys =
      sections.empty() ? std::vector<std::string_view>() : document.KeyNames(sections.front());
  switch (size % 6) {
    case 0: {
      const std::string last = sections.empty() ? "SplitImageMD5" : std::string(sections.back());
      CheckSet(document, last, "MD5_VALUE" + std::to_string(size % 100), "0A 1B");
      break;
    }
    case 1:
      CheckSet(document, "SrcImageMD5", "MD5_VALUE", "  \"quoted value\"  ");
      break;
    case 2:
      CheckSet(document, "New Section", "KEY", "value");
      break;
    case 3:
      if (!first_keys.empty()) {
        CheckSet(document, std::string(sections.front()), std::string(first_keys.front()),
                 "changed");
      }
      break;
    case 4:
      if (!first_keys.empty()) {
        IniDocument without_key = document;
        ApplyAndCheck(&without_key, without_key.PlanRemoveKey(std::string(sections.front()),
                                                              std::string(first_keys.front())));
      }
      break;
    case 5:
      if (!sections.empty()) {
        IniDocument without_section = document;
        ApplyAndCheck(&without_section,
                      without_section.PlanRemoveSection(std::string(sections.front())));
      }
      break;
  }
  // The file round trip costs more than all the rest; every fourth length.
  if (size % 4 == 0) CheckProfileStore(bytes, document);
  return 0;
}
