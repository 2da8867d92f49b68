// SPDX-License-Identifier: MIT
#include "platform/posix/ini_section_reader.h"

#include <utility>

#include "platform/posix/ini_document.h"

namespace tarvelin {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool SameFolded(std::string_view name, std::string_view folded) {
  if (name.size() != folded.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != folded[i]) return false;
  }
  return true;
}

}  // namespace

IniSectionReader::IniSectionReader(std::string_view section, IniEntryVisitor visit)
    : visit_(std::move(visit)) {
  for (char c : TrimIniBlanks(section)) {
    section_ += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
}

bool IniSectionReader::TakeLine(std::string_view content) {
  const IniLine line = ClassifyIniLine(content);
  if (line.kind == IniLine::kSection) {
    // Only the first section of a name is ever searched.
    if (inside_) return false;
    inside_ = SameFolded(line.name, section_);
    return true;
  }
  if (!inside_ || line.kind != IniLine::kEntry) return true;
  return visit_(line.name, StripValueQuotes(line.value));
}

// Takes every line that a line break ends; at the end of the file, the rest.
// A CR at the end of what has come may be the first half of CR LF.
bool IniSectionReader::TakeLines(bool at_end) {
  if (!started_) {
    if (!at_end && pending_.size() < kByteOrderMark.size() &&
        kByteOrderMark.compare(0, pending_.size(), pending_) == 0) {
      return true;
    }
    if (pending_.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0) {
      pending_.erase(0, kByteOrderMark.size());
    }
    started_ = true;
  }
  std::size_t begin = 0;
  for (;;) {
    const std::size_t content_end = pending_.find_first_of("\r\n", begin);
    if (content_end == std::string::npos) break;
    std::size_t end = content_end + 1;
    if (pending_[content_end] == '\r') {
      if (content_end + 1 == pending_.size() && !at_end) break;
      if (content_end + 1 < pending_.size() && pending_[content_end + 1] == '\n') ++end;
    }
    if (!TakeLine(std::string_view(pending_).substr(begin, content_end - begin))) {
      done_ = true;
      return false;
    }
    begin = end;
  }
  pending_.erase(0, begin);
  if (at_end && !pending_.empty()) {
    done_ = !TakeLine(pending_);
    pending_.clear();
  }
  return !done_;
}

bool IniSectionReader::Feed(std::string_view bytes) {
  if (done_) return false;
  pending_.append(bytes);
  return TakeLines(false);
}

void IniSectionReader::Finish() {
  if (!done_) TakeLines(true);
  done_ = true;
}

}  // namespace tarvelin
