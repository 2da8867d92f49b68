// SPDX-License-Identifier: MIT
// One section of a profile file, read in a single pass that holds one line at
// a time. A manifest of a million pieces is 65 MB of text; parsing it whole
// for every key, or keeping it whole, would cost minutes or hundreds of MB.
// The lines are read by the rules of IniDocument, so the entries seen are
// those that IniDocument::Find would find, in file order.
#ifndef TARVELIN_PLATFORM_POSIX_INI_SECTION_READER_H_
#define TARVELIN_PLATFORM_POSIX_INI_SECTION_READER_H_

#include <functional>
#include <string>
#include <string_view>

namespace tarvelin {

// Called with each entry of the section: the name trimmed, the value trimmed
// and without its pair of quotes, as a keyed read returns it. Returning false
// stops the reading.
using IniEntryVisitor = std::function<bool(std::string_view name, std::string_view value)>;

class IniSectionReader {
 public:
  // Visits the entries of the first section named `section` (compared
  // without regard to ASCII case), the first of each name and any later ones.
  IniSectionReader(std::string_view section, IniEntryVisitor visit);

  // Takes the next bytes of the file. Returns false once the section has
  // ended or the visitor asked to stop: nothing more needs to be read.
  bool Feed(std::string_view bytes);
  // Takes the end of the file, which ends the last line.
  void Finish();

 private:
  bool TakeLine(std::string_view content);
  bool TakeLines(bool at_end);

  std::string section_;  // folded to lower case
  IniEntryVisitor visit_;
  std::string pending_;  // bytes not yet ended by a line break
  bool started_ = false;  // the byte-order mark has been looked for
  bool inside_ = false;
  bool done_ = false;
};

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_POSIX_INI_SECTION_READER_H_
