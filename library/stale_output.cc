// SPDX-License-Identifier: MIT
#include "library/stale_output.h"

#include <vector>

#include "library/bounded_text.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

enum class NameState {
  kFree,
  kPlainFile,   // a regular file with this one name
  kForeign,     // a link, a folder, a device, or a file with other names too
  kUnreadable,  // it could not be looked at; the platform's error stands
};

// What stands at `name`, and its size when it is a plain file.
NameState Look(Platform& platform, const wchar_t* name, std::uint64_t* size) {
  EntryAttributes entry;
  if (!platform.GetFileAttributes(name, &entry)) return NameState::kUnreadable;
  if (entry.kind == EntryKind::kNothing) return NameState::kFree;
  if (entry.kind != EntryKind::kFile) return NameState::kForeign;
  const FileHandle file = platform.CreateFile(name, kAccessRead, kShareRead | kShareWrite,
                                              Disposition::kOpenExisting, Attribute::kReadOnly);
  if (file == InvalidHandle()) return NameState::kUnreadable;
  FileInformation information;
  const bool known = platform.GetFileInformationByHandle(file, &information);
  const std::uint32_t error = platform.GetLastError();
  platform.CloseHandle(file);
  if (!known) {
    platform.SetLastError(error);
    return NameState::kUnreadable;
  }
  if (information.links != 1) return NameState::kForeign;
  *size = information.size;
  return NameState::kPlainFile;
}

// Something at `name` that is not this source's stale output, or that could
// not be looked at: the split refuses, having changed nothing.
ResultCode Refuse(Platform& platform, NameState state, FileRole role, const wchar_t* name,
                  std::int32_t piece, FailureReport* report) {
  if (state == NameState::kUnreadable) {
    ReportFailure(report, FailedStep::kOpen, role, name, platform.GetLastError(), piece);
    return RC_FILE_OPEN;
  }
  platform.SetLastError(kErrorFileExists);
  ReportFailure(report, FailedStep::kCreate, role, name, kErrorFileExists, piece);
  return RC_FILE_OPEN;
}

bool Remove(Platform& platform, const wchar_t* name) {
  platform.SetFileAttributes(name, Attribute::kNormal);
  return platform.DeleteFile(name);
}

}  // namespace

ResultCode ClearStaleOutput(Platform& platform, SplitSet& set, std::int32_t highest_piece,
                            const unsigned char* source, FailureReport* report) {
  std::uint64_t manifest_size = 0;
  const NameState manifest = Look(platform, set.manifest(), &manifest_size);
  if (manifest == NameState::kForeign || manifest == NameState::kUnreadable) {
    return Refuse(platform, manifest, FileRole::kManifest, set.manifest(), -1, report);
  }
  // The pieces that the manifest vouches for as this source's: those it
  // records, and the one after them, which an interrupted split was cutting
  // when it stopped and had not recorded yet.
  std::int32_t stale_pieces = 0;
  if (manifest == NameState::kPlainFile && manifest_size != 0) {
    set.ReadRecord(platform);
    if (!set.source().Matches(source)) {
      return Refuse(platform, NameState::kForeign, FileRole::kManifest, set.manifest(), -1,
                    report);
    }
    stale_pieces = set.recorded_count() + 1;
  }

  // Every name the split will create must be free or stale; the stale
  // pieces beyond them go too, since the manifest that named them goes.
  std::vector<std::int32_t> doomed;
  const std::int32_t last = highest_piece > stale_pieces - 1 ? highest_piece : stale_pieces - 1;
  for (std::int32_t piece = 0; piece <= last; ++piece) {
    wchar_t name[kNameCapacity] = {};
    if (!set.PieceName(piece, name)) break;
    std::uint64_t size = 0;
    const NameState state = Look(platform, name, &size);
    if (state == NameState::kFree) continue;
    if (state != NameState::kPlainFile || piece >= stale_pieces) {
      return Refuse(platform, state == NameState::kUnreadable ? state : NameState::kForeign,
                    FileRole::kPiece, name, piece, report);
    }
    doomed.push_back(piece);
  }
  for (std::int32_t piece : doomed) {
    wchar_t name[kNameCapacity] = {};
    set.PieceName(piece, name);
    if (!Remove(platform, name)) {
      ReportFailure(report, FailedStep::kDelete, FileRole::kPiece, name, platform.GetLastError(),
                    piece);
      return RC_FILE_DELETE;
    }
  }
  if (manifest == NameState::kPlainFile && !Remove(platform, set.manifest())) {
    ReportFailure(report, FailedStep::kDelete, FileRole::kManifest, set.manifest(),
                  platform.GetLastError());
    return RC_FILE_DELETE;
  }
  return RC_OK;
}

}  // namespace tarvelin
