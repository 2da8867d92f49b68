// SPDX-License-Identifier: MIT
#include "cli/failure_words.h"

#include "cli/messages.h"
#include "cli/set_names.h"

namespace tarvelin::cli {
namespace {

// Win32's numbers, which the library reports on every system.
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kFileExists = 80;
constexpr std::uint32_t kCantResolveFilename = 1921;

const char kAskForTheFile[] = "; give the name of the file to rebuild, with its extension";

// The characters that FAT refuses in a name, beside the controls.
const char kFatRefuses[] = "\"*/:<>?\\|";

class Words {
 public:
  Words(const tarvelin_outcome& outcome, const std::string& path, const Request& request)
      : o_(outcome),
        path_(path),
        file_(outcome.file),
        request_(request),
        folder_(request.piece_folder),
        names_(NamesPath(path, request.piece_folder)) {}

  std::string Describe() const;

 private:
  bool Has(std::uint32_t detail) const { return (o_.details & detail) != 0; }
  // "it" (the path given), "the manifest disk.DAT" or "piece disk.3".
  std::string Which() const {
    switch (o_.role) {
      case TARVELIN_ROLE_SOURCE:
      case TARVELIN_ROLE_REBUILT: return file_ == path_ ? "it" : file_;
      case TARVELIN_ROLE_MANIFEST: return "the manifest " + file_;
      case TARVELIN_ROLE_PIECE: return "piece " + file_;
      case TARVELIN_ROLE_OUTPUT: return "standard output";
      default: break;
    }
    return "a file";
  }
  std::string Reason() const {
    return FileErrorWords(o_.system_error, o_.system_message, o_.file_kind);
  }
  std::string Mismatch() const;
  std::string Deleted() const;
  std::string Changed() const;
  std::string NotOurs() const;
  std::string PartOfASplit() const;
  std::string NoSpace() const;
  std::string NotFound() const;
  std::string TooLargeForMedium() const;
  std::string NameNotAllowed() const;
  std::string ReadBack() const;

  const tarvelin_outcome& o_;
  const std::string& path_;
  const std::string file_;
  const Request& request_;
  const std::string& folder_;
  const std::string names_;  // the path that the split's names derive from
};

std::string Words::Mismatch() const {
  const std::string manifest = ManifestName(names_);
  if (o_.code == RC_FILE_WRITE) {
    return "the pieces, read back, do not join into it: another program wrote to one of them "
           "while the split ran; it is kept (run the split again)";
  }
  if (o_.role == TARVELIN_ROLE_PIECE && Has(TARVELIN_DETAIL_RECORDED_ZERO)) {
    return "the manifest " + manifest + " records the all-zero fingerprint for piece " + file_ +
           ", which a splitter writes when it could not read the piece (a name outside ASCII, "
           "for one), so the piece cannot be proved";
  }
  // A stream proves a piece once its bytes have gone out.
  if (o_.role == TARVELIN_ROLE_PIECE) {
    return "piece " + file_ + " does not match its recorded fingerprint" +
           (request_.streamed ? "; its bytes have gone out already, so what was written is not "
                                "the original"
                              : "");
  }
  if (Has(TARVELIN_DETAIL_SOURCE_UNRECORDED)) {
    return "the manifest " + manifest + " records no fingerprint of the source, so " +
           (request_.streamed ? "what was written" : o_.file_existed ? "it" : "the rebuilt file") +
           " cannot be proved";
  }
  if (request_.streamed) {
    return "the pieces joined do not match the recorded fingerprint of the source; what was "
           "written is not the original";
  }
  const std::string missing = o_.missing_piece >= 0 ? PieceName(names_, o_.missing_piece) : "";
  if (Has(TARVELIN_DETAIL_NOT_RESUMABLE) && o_.missing_piece >= 0) {
    return "it already exists, and the bytes after the pieces joined in it cannot be checked "
           "against piece " + missing + ", which is missing; it is left as it is";
  }
  if (Has(TARVELIN_DETAIL_NOT_RESUMABLE)) {
    return "it already exists and does not begin with the recorded pieces joined in order, as "
           "a merge that stopped part way leaves it; it is left as it is";
  }
  if (o_.missing_piece >= 0) {
    return "piece " + missing + " is missing, so the pieces before it do not make up the source";
  }
  return "the pieces joined do not match the recorded fingerprint of the source";
}

std::string Words::Deleted() const {
  const std::string reason = ": " + Reason();
  switch (o_.role) {
    case TARVELIN_ROLE_SOURCE:
      return "every piece and the manifest are written, but it could not be deleted" + reason;
    case TARVELIN_ROLE_MANIFEST:
      return "it is rebuilt and proved, but the manifest " + file_ + " could not be deleted" +
             reason;
    default: break;
  }
  return Which() + " is joined but could not be deleted" + reason;
}

std::string Words::Changed() const {
  const std::string which = Which();
  if (o_.code == RC_FILE_DELETE) {
    return which + " was replaced or changed by another program after it was proved, so it is "
           "not deleted";
  }
  switch (o_.role) {
    case TARVELIN_ROLE_PIECE:
      return which + " was replaced or written to by another program after it was cut; the "
             "source is kept (run the split again)";
    case TARVELIN_ROLE_REBUILT:
      return "it was moved, replaced or written to by another program while the merge ran; the "
             "pieces that it does not hold are kept";
    case TARVELIN_ROLE_MANIFEST:
      return which + " was moved, replaced or written to by another program while the split "
             "ran, so it may not rebuild the source; the source is kept (run the split again)";
    default: break;
  }
  return "it was changed by another program while the split ran; it is kept, and the pieces "
         "cut from it vouch for nothing (run the split again)";
}

// A file at the merge's path that it may not write into.
std::string Words::NotOurs() const {
  const bool link =
      o_.system_error == kCantResolveFilename || o_.file_kind == TARVELIN_KIND_LINK;
  const std::string what = link ? "it is a symbolic link" : "it has other names, or another user owns it";
  return "it is in the way: " + what + ", so a merge does not write into it; it is left alone";
}

std::string Words::PartOfASplit() const {
  if (o_.piece < 0) return path_ + " is the manifest of a split" + kAskForTheFile;
  return path_ + " is piece " + std::to_string(o_.piece) + " of the split recorded in " + file_ +
         kAskForTheFile;
}

// A split needs its source's size where the pieces go; a merge its largest
// piece, or the whole when the pieces stay (kept, or on another file
// system, which only a pieces' folder can be).
std::string Words::NoSpace() const {
  std::string what = "its largest piece needs";
  std::string system = "the file system";
  if (o_.role == TARVELIN_ROLE_SOURCE) {
    what = "the pieces need";
    if (!folder_.empty()) system += " of " + folder_;
  } else if (request_.keep) {
    what = "with the pieces kept, the whole file needs";
  } else if (!folder_.empty()) {
    what = "the rebuilt file needs";
  }
  return "not enough free space: " + what + " " + BytesText(o_.space_needed) + " and " + system +
         " has " + BytesText(o_.space_free) + " free (--no-space-check tries anyway)";
}

std::string Words::NotFound() const {
  switch (o_.role) {
    case TARVELIN_ROLE_NONE:  // the pieces' folder
      if (o_.file_kind == TARVELIN_KIND_NONE || o_.file_kind == TARVELIN_KIND_UNKNOWN) {
        return "the pieces' folder " + file_ + " does not exist";
      }
      return "the pieces' folder " + file_ + " is not a folder";
    case TARVELIN_ROLE_MANIFEST:
      return "no manifest " + file_ + (folder_.empty() ? " beside it" : "");
    case TARVELIN_ROLE_PIECE:
      return "piece " + file_ + " is missing" + (request_.streamed ? "; nothing was written" : "");
    default: break;
  }
  return "no such file";
}

// FAT's files stop at 4 GiB - 1 byte: 4095 MiB is the largest whole MiB.
std::string Words::TooLargeForMedium() const {
  const std::string pieces = request_.piece_mib > 0
                                 ? "pieces of " + std::to_string(request_.piece_mib) + " MiB"
                                 : "the pieces";
  const std::string where =
      folder_.empty() ? "beside it, on a FAT file system" : "on " + folder_ + ", a FAT file system";
  return pieces + " would not fit " + where +
         ", which holds files of 4 GiB - 1 byte at most; choose -s 4095M or less (nothing was "
         "written)";
}

std::string Words::NameNotAllowed() const {
  const std::string name = LastComponent(file_);
  for (char c : name) {
    const bool refused = static_cast<unsigned char>(c) < 0x20 ||
                         std::string(kFatRefuses).find(c) != std::string::npos;
    if (refused) {
      return "FAT refuses the character '" + std::string(1, c) + "' in " + name +
             "; rename the file (nothing was written)";
    }
  }
  return "FAT refuses a character in " + name + "; rename the file (nothing was written)";
}

// Read past the cache, the medium gave back other bytes than it was given.
std::string Words::ReadBack() const {
  return "the medium gave back other bytes for " + Which() +
         " than were written to it: it may be failing, or hold less than it claims (as fake "
         "sticks do); the source is kept";
}

std::string Words::Describe() const {
  const std::string which = Which();
  switch (o_.step) {
    case TARVELIN_STEP_BAD_PATH: return "it is no path: it is empty, or not valid UTF-8";
    case TARVELIN_STEP_DEVICE_NAME:
      return "its name, or a name derived from it, is that of a Windows device (CON, PRN, AUX, "
             "NUL, COM0 to COM9, LPT0 to LPT9, with any extension), which is no file";
    case TARVELIN_STEP_NAME_TOO_LONG:
      return "the path is too long: with the manifest's \".DAT\" or a piece's number added, a "
             "name would pass the longest that the system takes";
    case TARVELIN_STEP_NOT_FOUND: return NotFound();
    case TARVELIN_STEP_OPEN: return "cannot open " + which + ": " + Reason();
    case TARVELIN_STEP_CREATE:
      if (o_.system_error == kFileExists && o_.role != TARVELIN_ROLE_REBUILT) {
        return which + " is in the way: it is not output of a split of this file, so nothing "
               "was changed (move it away, or merge the split it belongs to)";
      }
      return "cannot create " + which + ": " + Reason();
    case TARVELIN_STEP_APPEARED:
      if (o_.role == TARVELIN_ROLE_REBUILT) {
        return "a file appeared at it as the merge began to create it; it is left alone";
      }
      return which + " appeared while the split ran, put there by another program; it is left "
             "alone and the source is kept";
    case TARVELIN_STEP_NOT_OURS: return NotOurs();
    case TARVELIN_STEP_MEASURE:
      return "the size of " + which + " could not be measured, and it held more bytes than "
             "measured";
    case TARVELIN_STEP_READ: return "reading " + which + " failed: " + Reason();
    case TARVELIN_STEP_WRITE: return "writing " + which + " failed: " + Reason();
    case TARVELIN_STEP_RECORD: return "cannot record a fingerprint in " + which + ": " + Reason();
    case TARVELIN_STEP_CUT:
      return "cutting " + which + " back to the pieces that it holds whole failed: " + Reason();
    case TARVELIN_STEP_FLUSH: return "putting " + which + " on stable storage failed: " + Reason();
    case TARVELIN_STEP_FLUSH_FOLDER:
      return "putting the folder of " + which + " on stable storage failed: " + Reason();
    case TARVELIN_STEP_CLOSE: return "closing " + which + " after writing it failed: " + Reason();
    case TARVELIN_STEP_DELETE: return Deleted();
    case TARVELIN_STEP_CLEAR_STALE:
      return "cannot clear " + which + ", left by an earlier split of this file: " + Reason();
    case TARVELIN_STEP_MISMATCH: return Mismatch();
    case TARVELIN_STEP_CHANGED: return Changed();
    case TARVELIN_STEP_NO_MEMORY: return "not enough memory";
    case TARVELIN_STEP_CANCELLED: return "cancelled";
    case TARVELIN_STEP_NO_SPACE: return NoSpace();
    case TARVELIN_STEP_PART_OF_A_SPLIT: return PartOfASplit();
    case TARVELIN_STEP_BAD_OPTIONS: return "an option is out of range";
    case TARVELIN_STEP_TOO_LARGE_FOR_MEDIUM: return TooLargeForMedium();
    case TARVELIN_STEP_NAME_NOT_ALLOWED: return NameNotAllowed();
    case TARVELIN_STEP_READ_BACK: return ReadBack();
    default: break;
  }
  return "it failed";
}

}  // namespace

std::string FileErrorWords(std::uint32_t error, const char* message, int file_kind) {
  if (error == kAccessDenied && file_kind == TARVELIN_KIND_FOLDER) {
    return "it is a folder, not a file";
  }
  if (error == kAccessDenied && file_kind == TARVELIN_KIND_DEVICE) {
    return "it is a device or a pipe, not a file";
  }
  return message != nullptr && *message != '\0' ? message : "system error " + std::to_string(error);
}

std::string DescribeFailure(const tarvelin_outcome& outcome, const std::string& path,
                            const Request& request) {
  return Words(outcome, path, request).Describe();
}

}  // namespace tarvelin::cli
