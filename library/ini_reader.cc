// SPDX-License-Identifier: MIT
#include "library/ini_reader.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/ini_lines.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::uint32_t kBlockSize = 65536;

bool SameFolded(std::string_view name, std::string_view folded) {
  if (name.size() != folded.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != folded[i]) return false;
  }
  return true;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Turns the file's bytes into the UTF-8 that the readers take: UTF-16 after
// its byte-order mark, anything else as it comes. A code unit or a surrogate
// pair split between two blocks waits for the next.
class TextDecoder {
 public:
  void Decode(std::string_view bytes, bool at_end, std::string* out) {
    out->clear();
    held_.append(bytes);
    if (!decided_) {
      if (held_.size() < 2 && !at_end) return;
      decided_ = true;
      if (held_.compare(0, 2, "\xFF\xFE") == 0 || held_.compare(0, 2, "\xFE\xFF") == 0) {
        utf16_ = true;
        big_endian_ = held_[0] == '\xFE';
        held_.erase(0, 2);
      }
    }
    if (!utf16_) {
      out->swap(held_);
      held_.clear();
      return;
    }
    std::size_t at = 0;
    for (; at + 2 <= held_.size(); at += 2) {
      const auto first = static_cast<unsigned char>(held_[at]);
      const auto second = static_cast<unsigned char>(held_[at + 1]);
      const char32_t unit = big_endian_ ? (first << 8 | second) : (second << 8 | first);
      if (high_ != 0) {
        const char32_t high = high_;
        high_ = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
          AppendUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
          continue;
        }
        AppendUtf8(0xFFFD, out);
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_ = unit;
      } else {
        AppendUtf8(unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : unit, out);
      }
    }
    held_.erase(0, at);
    if (at_end && (high_ != 0 || !held_.empty())) AppendUtf8(0xFFFD, out);
  }

 private:
  std::string held_;
  bool decided_ = false;
  bool utf16_ = false;
  bool big_endian_ = false;
  char32_t high_ = 0;
};

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
    const bool skipped = skipping_;
    skipping_ = false;
    if (!skipped &&
        !TakeLine(std::string_view(pending_).substr(begin, content_end - begin))) {
      done_ = true;
      return false;
    }
    begin = end;
  }
  pending_.erase(0, begin);
  if (pending_.size() > kLongestIniLine) {
    pending_.clear();
    skipping_ = true;
  }
  if (at_end && !pending_.empty() && !skipping_) {
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

bool ReadIniFile(Platform& platform, FileHandle file,
                 std::initializer_list<IniSectionReader*> readers) {
  try {
    if (!platform.SetFilePointer(file, 0)) return false;
    std::unique_ptr<char[]> block(new char[kBlockSize]);
    TextDecoder decoder;
    std::string text;
    std::vector<IniSectionReader*> reading(readers);
    for (;;) {
      std::uint32_t got = 0;
      if (!platform.ReadFile(file, block.get(), kBlockSize, &got)) return false;
      decoder.Decode(std::string_view(block.get(), got), got == 0, &text);
      std::vector<IniSectionReader*> still;
      for (IniSectionReader* reader : reading) {
        if (reader->Feed(text)) still.push_back(reader);
      }
      reading.swap(still);
      if (got == 0 || reading.empty()) break;
    }
    for (IniSectionReader* reader : reading) reader->Finish();
    return true;
  } catch (const std::bad_alloc&) {
    platform.SetLastError(kErrorNotEnoughMemory);
    return false;
  }
}

}  // namespace tarvelin
