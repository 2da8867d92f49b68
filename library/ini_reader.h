// SPDX-License-Identifier: MIT
// Sections of an INI file read through a handle that the caller holds, in a
// single pass that keeps one line at a time, by the rules of Windows' profile
// functions (platform/ini_lines.h). A manifest of a million pieces is 65 MB
// of text; parsing it whole, or keeping it whole, would cost minutes or
// hundreds of MB. Reading through the caller's handle means that the file
// read is the one the caller holds and judges, whatever has its name since.
//
// As the profile functions read them: a file that starts with a UTF-16
// byte-order mark is UTF-16 (little- or big-endian), one with a UTF-8 mark
// is UTF-8 without it, and anything else is read as bytes. No line is kept
// beyond kLongestIniLine bytes: the rest of a longer one is passed over, so
// that no file, whatever it holds, makes the reading grow without bound.
#ifndef TARVELIN_LIBRARY_INI_READER_H_
#define TARVELIN_LIBRARY_INI_READER_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tarvelin {

constexpr std::size_t kLongestIniLine = 65536;

// Called with each entry of the section: the name trimmed, the value trimmed
// and without its pair of quotes, as a keyed read returns it. Returning false
// stops the reading.
using IniEntryVisitor = std::function<bool(std::string_view name, std::string_view value)>;

class IniSectionReader {
 public:
  // Visits the entries of the first section named `section` (compared
  // without regard to ASCII case), the first of each name and any later ones.
  IniSectionReader(std::string_view section, IniEntryVisitor visit);

  // Takes the next bytes of the text, UTF-8. Returns false once the section
  // has ended or the visitor asked to stop: nothing more needs to be read.
  bool Feed(std::string_view bytes);
  // Takes the end of the file, which ends the last line.
  void Finish();

 private:
  bool TakeLine(std::string_view content);
  bool TakeLines(bool at_end);

  std::string section_;  // folded to lower case
  IniEntryVisitor visit_;
  std::string pending_;  // bytes not yet ended by a line break
  bool skipping_ = false;  // passing over the rest of a line too long to keep
  bool started_ = false;  // the byte-order mark has been looked for
  bool inside_ = false;
  bool done_ = false;
};

// Reads `file` (opened with read access) from its start to its end, in
// blocks of 64 KiB, decodes it as above and feeds every reader until each
// has what it needs. Returns false when a read fails (its last-error value
// stands) or memory runs out (kErrorNotEnoughMemory).
bool ReadIniFile(Platform& platform, FileHandle file,
                 std::initializer_list<IniSectionReader*> readers);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_INI_READER_H_
