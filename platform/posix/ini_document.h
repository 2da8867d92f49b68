// SPDX-License-Identifier: MIT
// An INI document in memory, as the Windows profile functions see one: named
// sections holding key=value lines. Parsing survives any bytes at all; the
// text it writes is the layout that WritePrivateProfileStringW writes
// ("[Section]\r\nKEY=value\r\n"), so a manifest moves between systems
// unchanged. Names and values are UTF-8 here; the backend converts.
//
// Reading rules, those of the Windows functions:
// - a line ends at CR LF, LF or a lone CR; the last one may have no end;
// - blanks (space, tab, VT, FF, CR and the Ctrl-Z end-of-file mark) around a
//   line, a name or a value do not count; a UTF-8 byte-order mark at the
//   start of the text is skipped;
// - "[name]" starts a section, the name running to the line's last ']'; a
//   line that starts with '[' but has no ']' is read like any other line;
// - "name=value" is an entry of the section above it, split at the first '=';
//   lines starting with ';', lines without '=' and entries above the first
//   section are kept as they stand but never found;
// - names compare without regard to ASCII case; the first section of a name
//   is the one searched, and in it the first entry of a name wins.
//
// Editing keeps every byte it does not change: a new entry goes after the
// last non-blank line of its section, a new section at the end of the text,
// and each line written ends in CR LF. An edit at the end of the text is an
// append, which the profile backend writes without rewriting the file and
// which the document parses incrementally, so that N new keys in the last
// section cost O(N) in all.
#ifndef TARVELIN_PLATFORM_POSIX_INI_DOCUMENT_H_
#define TARVELIN_PLATFORM_POSIX_INI_DOCUMENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ini_lines.h"

namespace tarvelin {

// One change to a document's text: replace `erase` bytes at `offset` with
// `insert`. An edit with erase == 0 at the text's end is an append.
struct IniEdit {
  std::size_t offset = 0;
  std::size_t erase = 0;
  std::string insert;
};

class IniDocument {
 public:
  IniDocument() = default;
  // Takes the bytes of a file; never fails on any content.
  explicit IniDocument(std::string text);

  // The bytes as they stand on disk after the edits applied so far.
  const std::string& text() const { return text_; }

  // The value of `key` in `section`: the text after '=' without surrounding
  // blanks, quotes still on. Names given here are trimmed of blanks too.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // The names of the sections in file order (duplicates too), and the names
  // of the entries of the first section named `section`, in file order.
  std::vector<std::string_view> SectionNames() const;
  std::vector<std::string_view> KeyNames(std::string_view section) const;

  // The edit that sets `key` in `section` to `value`, creating the section
  // or the entry as needed. Returns nothing when the entry already holds
  // exactly that value. An existing entry keeps its name as spelled in the
  // text; the value is written without leading blanks, as Windows does.
  std::optional<IniEdit> PlanSet(std::string_view section, std::string_view key,
                                 std::string_view value) const;
  // The edits that remove one entry, or a whole section with its lines;
  // nothing when there is nothing to remove.
  std::optional<IniEdit> PlanRemoveKey(std::string_view section, std::string_view key) const;
  std::optional<IniEdit> PlanRemoveSection(std::string_view section) const;

  // True when `edit` only adds bytes at the end of the text.
  bool IsAppend(const IniEdit& edit) const {
    return edit.erase == 0 && edit.offset == text_.size();
  }

  // Applies an edit that a Plan* call of this document returned.
  void Apply(const IniEdit& edit);

 private:
  struct Entry {
    std::size_t line_begin;  // The line, with its end of line.
    std::size_t line_end;
    std::size_t name_begin;  // The name and the value, trimmed of blanks.
    std::size_t name_end;
    std::size_t value_begin;
    std::size_t value_end;
  };
  struct Section {
    std::size_t header_begin;
    std::size_t name_begin;
    std::size_t name_end;
    // Where the section's lines end: the next header, or the end of text.
    std::size_t end;
    // The end of the section's last non-blank line (the header at least),
    // and whether that line ended in a line break.
    std::size_t insert_at;
    bool insert_after_break;
    std::vector<Entry> entries;  // In file order.
    // First entry for each case-folded name.
    std::unordered_map<std::string, std::size_t> first_entry;
  };

  void Reparse();
  // Parses the lines from `from` (a line start) to the end of the text,
  // continuing the last section when there is one.
  void ParseFrom(std::size_t from);
  void AddLine(std::size_t begin, std::size_t content_end, std::size_t end);

  const Section* FindSection(std::string_view section) const;
  const Entry* FindEntry(const Section& section, std::string_view key) const;
  std::string_view Slice(std::size_t begin, std::size_t end) const {
    return std::string_view(text_).substr(begin, end - begin);
  }

  std::string text_;
  std::size_t body_begin_ = 0;  // After the byte-order mark, if any.
  std::vector<Section> sections_;
  // First section for each case-folded name.
  std::unordered_map<std::string, std::size_t> first_section_;
};

// Parses `bytes` as a profile file. For fuzzers and tests, as for the backend.
IniDocument ParseIni(std::string bytes);

// True when an entry written with these names and value reads back under the
// same names: none of them holds a line break, and the key neither holds '='
// nor starts with '[' or ';'. Windows writes such text as it comes, which
// lets a value add lines of its own to the file; the backend refuses it.
bool IsWritableIniEntry(std::string_view section, std::string_view key, std::string_view value);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_POSIX_INI_DOCUMENT_H_
