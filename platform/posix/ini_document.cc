// SPDX-License-Identifier: MIT
#include "platform/posix/ini_document.h"

#include <utility>

namespace tarvelin {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineBreak = "\r\n";

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

std::string FoldCase(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string_view TrimLeadingBlanks(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsIniBlank(text[begin])) ++begin;
  return text.substr(begin);
}

std::string EntryLine(std::string_view key, std::string_view value) {
  std::string line;
  line.reserve(key.size() + value.size() + 3);
  line.append(key).append("=").append(value).append(kLineBreak);
  return line;
}

}  // namespace

bool IsWritableIniEntry(std::string_view section, std::string_view key, std::string_view value) {
  for (std::string_view text : {section, key, value}) {
    for (char c : text) {
      if (IsLineBreak(c)) return false;
    }
  }
  const std::string_view trimmed_key = TrimIniBlanks(key);
  if (trimmed_key.find('=') != std::string_view::npos) return false;
  return trimmed_key.empty() || (trimmed_key.front() != '[' && trimmed_key.front() != ';');
}

IniDocument ParseIni(std::string bytes) { return IniDocument(std::move(bytes)); }

IniDocument::IniDocument(std::string text) : text_(std::move(text)) { Reparse(); }

void IniDocument::Reparse() {
  sections_.clear();
  first_section_.clear();
  body_begin_ = text_.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0 ? kByteOrderMark.size() : 0;
  ParseFrom(body_begin_);
}

void IniDocument::ParseFrom(std::size_t from) {
  const std::string_view text(text_);
  std::size_t begin = from;
  while (begin < text.size()) {
    std::size_t content_end = text.find_first_of("\r\n", begin);
    std::size_t end;
    if (content_end == std::string_view::npos) {
      content_end = end = text.size();
    } else if (text[content_end] == '\r' && content_end + 1 < text.size() &&
               text[content_end + 1] == '\n') {
      end = content_end + 2;
    } else {
      end = content_end + 1;
    }
    AddLine(begin, content_end, end);
    begin = end;
  }
}

void IniDocument::AddLine(std::size_t begin, std::size_t content_end, std::size_t end) {
  const IniLine line = ClassifyIniLine(Slice(begin, content_end));
  if (line.kind == IniLine::kSection) {
    Section section;
    section.header_begin = begin;
    section.name_begin = static_cast<std::size_t>(line.name.data() - text_.data());
    section.name_end = section.name_begin + line.name.size();
    section.end = end;
    section.insert_at = end;
    section.insert_after_break = content_end != end;
    first_section_.emplace(FoldCase(line.name), sections_.size());
    sections_.push_back(std::move(section));
    return;
  }
  if (sections_.empty()) return;
  Section* current = &sections_.back();
  current->end = end;
  if (line.blank) return;  // Blank lines only separate.
  current->insert_at = end;
  current->insert_after_break = content_end != end;
  if (line.kind != IniLine::kEntry) return;

  Entry entry;
  entry.line_begin = begin;
  entry.line_end = end;
  entry.name_begin = static_cast<std::size_t>(line.name.data() - text_.data());
  entry.name_end = entry.name_begin + line.name.size();
  entry.value_begin = static_cast<std::size_t>(line.value.data() - text_.data());
  entry.value_end = entry.value_begin + line.value.size();
  current->first_entry.emplace(FoldCase(line.name), current->entries.size());
  current->entries.push_back(entry);
}

const IniDocument::Section* IniDocument::FindSection(std::string_view section) const {
  const auto found = first_section_.find(FoldCase(TrimIniBlanks(section)));
  return found == first_section_.end() ? nullptr : &sections_[found->second];
}

const IniDocument::Entry* IniDocument::FindEntry(const Section& section,
                                                 std::string_view key) const {
  const auto found = section.first_entry.find(FoldCase(TrimIniBlanks(key)));
  return found == section.first_entry.end() ? nullptr : &section.entries[found->second];
}

std::optional<std::string_view> IniDocument::Find(std::string_view section,
                                                  std::string_view key) const {
  const Section* found_section = FindSection(section);
  if (found_section == nullptr) return std::nullopt;
  const Entry* entry = FindEntry(*found_section, key);
  if (entry == nullptr) return std::nullopt;
  return Slice(entry->value_begin, entry->value_end);
}

std::vector<std::string_view> IniDocument::SectionNames() const {
  std::vector<std::string_view> names;
  names.reserve(sections_.size());
  for (const Section& section : sections_) {
    names.push_back(Slice(section.name_begin, section.name_end));
  }
  return names;
}

std::vector<std::string_view> IniDocument::KeyNames(std::string_view section) const {
  std::vector<std::string_view> names;
  const Section* found = FindSection(section);
  if (found == nullptr) return names;
  names.reserve(found->entries.size());
  for (const Entry& entry : found->entries) names.push_back(Slice(entry.name_begin, entry.name_end));
  return names;
}

std::optional<IniEdit> IniDocument::PlanSet(std::string_view section, std::string_view key,
                                            std::string_view value) const {
  const std::string_view section_name = TrimIniBlanks(section);
  const std::string_view key_name = TrimIniBlanks(key);
  value = TrimLeadingBlanks(value);

  const Section* found_section = FindSection(section_name);
  if (found_section == nullptr) {
    IniEdit edit;
    edit.offset = text_.size();
    if (text_.size() > body_begin_ && !IsLineBreak(text_.back())) edit.insert = kLineBreak;
    edit.insert.append("[").append(section_name).append("]").append(kLineBreak);
    edit.insert.append(EntryLine(key_name, value));
    return edit;
  }
  const Entry* entry = FindEntry(*found_section, key_name);
  if (entry == nullptr) {
    IniEdit edit;
    edit.offset = found_section->insert_at;
    if (!found_section->insert_after_break) edit.insert = kLineBreak;
    edit.insert.append(EntryLine(key_name, value));
    return edit;
  }
  if (Slice(entry->value_begin, entry->value_end) == value) return std::nullopt;
  IniEdit edit;
  edit.offset = entry->line_begin;
  edit.erase = entry->line_end - entry->line_begin;
  edit.insert = EntryLine(Slice(entry->name_begin, entry->name_end), value);
  return edit;
}

std::optional<IniEdit> IniDocument::PlanRemoveKey(std::string_view section,
                                                  std::string_view key) const {
  const Section* found_section = FindSection(section);
  if (found_section == nullptr) return std::nullopt;
  const Entry* entry = FindEntry(*found_section, key);
  if (entry == nullptr) return std::nullopt;
  IniEdit edit;
  edit.offset = entry->line_begin;
  edit.erase = entry->line_end - entry->line_begin;
  return edit;
}

std::optional<IniEdit> IniDocument::PlanRemoveSection(std::string_view section) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  IniEdit edit;
  edit.offset = found->header_begin;
  edit.erase = found->end - found->header_begin;
  return edit;
}

void IniDocument::Apply(const IniEdit& edit) {
  // Parsing on from the old end gives what a full parse would only when the
  // old text ended with a whole line break.
  const bool line_complete =
      !text_.empty() && (text_.back() == '\n' ||
                         (text_.back() == '\r' && (edit.insert.empty() || edit.insert[0] != '\n')));
  if (IsAppend(edit) && (line_complete || text_.size() == body_begin_)) {
    const std::size_t old_size = text_.size();
    text_.append(edit.insert);
    ParseFrom(old_size);
    return;
  }
  text_.replace(edit.offset, edit.erase, edit.insert);
  Reparse();
}

}  // namespace tarvelin
