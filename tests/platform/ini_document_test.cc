// SPDX-License-Identifier: MIT
#include "platform/posix/ini_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvelin {
namespace {

using Value = std::optional<std::string>;

Value Lookup(const IniDocument& document, std::string_view section, std::string_view key) {
  const auto value = document.Find(section, key);
  return value ? Value(std::string(*value)) : std::nullopt;
}

// Sets through the plan-and-apply pair as the backend does, and checks that
// the edit kept every other byte and that parsing the result from scratch
// agrees with the incrementally updated document.
void Set(IniDocument* document, std::string_view section, std::string_view key,
         std::string_view value) {
  const std::string before = document->text();
  const std::optional<IniEdit> edit = document->PlanSet(section, key, value);
  if (!edit) return;
  document->Apply(*edit);
  const std::string& after = document->text();
  ASSERT_EQ(after.size(), before.size() - edit->erase + edit->insert.size());
  EXPECT_EQ(after.substr(0, edit->offset), before.substr(0, edit->offset));
  EXPECT_EQ(after.substr(edit->offset + edit->insert.size()),
            before.substr(edit->offset + edit->erase));
  const IniDocument reparsed = ParseIni(after);
  ASSERT_EQ(reparsed.SectionNames(), document->SectionNames());
  for (std::string_view name : reparsed.SectionNames()) {
    ASSERT_EQ(reparsed.KeyNames(name), document->KeyNames(name));
    std::vector<std::string_view> probes = reparsed.KeyNames(name);
    probes.push_back("probe for a new key");
    for (std::string_view probe : probes) {
      const auto expected = reparsed.PlanSet(name, probe, "#");
      const auto actual = document->PlanSet(name, probe, "#");
      ASSERT_EQ(expected.has_value(), actual.has_value());
      if (!expected) continue;
      EXPECT_EQ(actual->offset, expected->offset) << name << "/" << probe;
      EXPECT_EQ(actual->erase, expected->erase) << name << "/" << probe;
      EXPECT_EQ(actual->insert, expected->insert) << name << "/" << probe;
    }
  }
}

TEST(IniDocumentTest, WritesTheLayoutOfWindows) {
  IniDocument document;
  Set(&document, "SrcImageMD5", "MD5_VALUE", "AA");
  Set(&document, "SplitImageMD5", "MD5_VALUE0", "B0");
  Set(&document, "SplitImageMD5", "MD5_VALUE1", "B1");
  Set(&document, "splitimagemd5", "md5_value0", "C0");  // Keeps the stored spelling.
  EXPECT_EQ(document.text(),
            "[SrcImageMD5]\r\nMD5_VALUE=AA\r\n[SplitImageMD5]\r\nMD5_VALUE0=C0\r\n"
            "MD5_VALUE1=B1\r\n");
  EXPECT_FALSE(document.PlanSet("SplitImageMD5", "MD5_VALUE1", "B1"));
}

TEST(IniDocumentTest, ReadsWhatOtherWritersWrite) {
  const IniDocument document = ParseIni(
      "\xEF\xBB\xBF[First]\n"
      "  Key One  =  spaced value \t\n"
      "; Hidden=comment\n"
      "junk line without equals\r"
      "Quoted=\"in quotes\"\r\n"
      "Equals=a=b\n"
      "\t[ Second ]  trailing\n"
      "key=second\n"
      "[Lone\n"
      "[broken=bracket\n"
      "[FIRST]\n"
      "Key One=duplicate section\n"
      "[Empty]");
  const struct {
    const char* section;
    const char* key;
    Value expected;
  } cases[] = {
      {"First", "Key One", "spaced value"},
      {"FIRST", "KEY ONE", "spaced value"},
      {" first ", "\tkey one ", "spaced value"},
      {"First", "; Hidden", std::nullopt},
      {"First", "junk line without equals", std::nullopt},
      {"First", "Quoted", "\"in quotes\""},
      {"First", "Equals", "a=b"},
      {"Second", "key", "second"},
      {"Second", "[Lone", std::nullopt},
      {"Second", "[broken", "bracket"},
      {"Second", "Key One", std::nullopt},
      {"Empty", "x", std::nullopt},
      {"Missing", "key", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Lookup(document, c.section, c.key), c.expected) << c.section << "/" << c.key;
  }
  EXPECT_EQ(document.SectionNames(),
            (std::vector<std::string_view>{"First", "Second", "FIRST", "Empty"}));
  EXPECT_EQ(document.KeyNames("first"),
            (std::vector<std::string_view>{"Key One", "Quoted", "Equals"}));
}

TEST(IniDocumentTest, StripsOnePairOfMatchingQuotes) {
  const struct {
    const char* raw;
    const char* stripped;
  } cases[] = {
      {"\"a\"", "a"}, {"'a'", "a"}, {"\"\"", ""},  {"\"", "\""},
      {"\"a'", "\"a'"}, {"\"\"a\"\"", "\"a\""}, {"a\"", "a\""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripValueQuotes(c.raw), c.stripped) << c.raw;
}

TEST(IniDocumentTest, FirstOccurrenceWinsAndIsTheOneReplaced) {
  IniDocument document = ParseIni("[S]\r\nk=1\r\nK=2\r\n[s]\r\nk=3\r\nnew=4\r\n");
  EXPECT_EQ(Lookup(document, "s", "k"), "1");
  EXPECT_EQ(Lookup(document, "s", "new"), std::nullopt);
  Set(&document, "S", "K", "9");
  Set(&document, "S", "new", "5");
  EXPECT_EQ(document.text(), "[S]\r\nk=9\r\nK=2\r\nnew=5\r\n[s]\r\nk=3\r\nnew=4\r\n");
}

TEST(IniDocumentTest, PlacesNewLinesWithoutDisturbingOthers) {
  const struct {
    const char* before;
    const char* section;
    const char* after;
  } cases[] = {
      // After the section's last non-blank line, comments included.
      {"[A]\nx=1\n; note\n\n[B]\ny=2\n", "A", "[A]\nx=1\n; note\nk=v\r\n\n[B]\ny=2\n"},
      {"[A]\n\n[B]\n", "a", "[A]\nk=v\r\n\n[B]\n"},
      // A last line without a line break gets one first.
      {"[A]\nx=1", "A", "[A]\nx=1\r\nk=v\r\n"},
      {"[A]\nx=1\r", "A", "[A]\nx=1\rk=v\r\n"},
      {"; only a comment", "N", "; only a comment\r\n[N]\r\nk=v\r\n"},
      {"", "N", "[N]\r\nk=v\r\n"},
      {"\xEF\xBB\xBF", "N", "\xEF\xBB\xBF[N]\r\nk=v\r\n"},
      {"k=v outside\n", "N", "k=v outside\n[N]\r\nk=v\r\n"},
  };
  for (const auto& c : cases) {
    IniDocument document = ParseIni(c.before);
    Set(&document, c.section, "k", "v");
    EXPECT_EQ(document.text(), c.after) << c.before;
    EXPECT_EQ(Lookup(document, c.section, "k"), "v") << c.before;
  }
}

TEST(IniDocumentTest, RemovesKeysAndSections) {
  IniDocument document = ParseIni("[A]\r\nx=1\r\ny=2\r\n; kept\r\n[B]\r\nz=3\r\n");
  document.Apply(*document.PlanRemoveKey("a", "X"));
  EXPECT_EQ(document.text(), "[A]\r\ny=2\r\n; kept\r\n[B]\r\nz=3\r\n");
  document.Apply(*document.PlanRemoveSection("A"));
  EXPECT_EQ(document.text(), "[B]\r\nz=3\r\n");
  EXPECT_FALSE(document.PlanRemoveKey("B", "missing"));
  EXPECT_FALSE(document.PlanRemoveSection("missing"));
}

TEST(IniDocumentTest, RefusesEntriesThatWouldNotReadBack) {
  EXPECT_TRUE(IsWritableIniEntry("S", "MD5_VALUE0", "00 11"));
  EXPECT_TRUE(IsWritableIniEntry("a]b[", "k", "v=w;[x]"));
  EXPECT_FALSE(IsWritableIniEntry("S", "k", "line\r\n[Injected]"));
  EXPECT_FALSE(IsWritableIniEntry("S\n", "k", "v"));
  EXPECT_FALSE(IsWritableIniEntry("S", "a=b", "v"));
  EXPECT_FALSE(IsWritableIniEntry("S", " [k", "v]"));
  EXPECT_FALSE(IsWritableIniEntry("S", ";k", "v"));
}

TEST(IniDocumentTest, HoldsValuesOfMegabytes) {
  const std::string huge(8 << 20, 'x');
  IniDocument document = ParseIni("[S]\nbig=" + huge + "\nafter=1");
  EXPECT_EQ(document.Find("S", "big")->size(), huge.size());
  Set(&document, "S", "tail", "2");
  EXPECT_EQ(Lookup(document, "S", "after"), "1");
  EXPECT_EQ(Lookup(document, "S", "tail"), "2");
}

// Random bytes drawn mostly from the characters that the grammar cares about:
// whatever they form, parsing and lookups stay in bounds, and entries written
// afterwards read back.
TEST(IniDocumentTest, SurvivesRandomBytesAndStillRoundTrips) {
  static const char kAlphabet[] = "[]=;\"' \t\r\n\r\n\x1A\xEF\xBB\xBF\xFFSsKk0";
  std::uint32_t state = 0x2545F491u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(next() % 160, '\0');
    for (char& c : bytes) {
      c = next() % 4 == 0 ? static_cast<char>(next()) : kAlphabet[next() % (sizeof kAlphabet - 1)];
    }
    IniDocument document = ParseIni(bytes);
    for (std::string_view section : document.SectionNames()) {
      for (std::string_view key : document.KeyNames(section)) {
        ASSERT_TRUE(document.Find(section, key).has_value()) << round;
      }
    }
    document.Find("S", "K");
    Set(&document, "S", "K", "v1");
    Set(&document, "New", "k2", "v2");
    Set(&document, "s", "k3", "v3");
    ASSERT_EQ(Lookup(document, "S", "K"), "v1") << round;
    ASSERT_EQ(Lookup(document, "NEW", "K2"), "v2") << round;
    ASSERT_EQ(Lookup(document, "s", "k3"), "v3") << round;
  }
}

}  // namespace
}  // namespace tarvelin
