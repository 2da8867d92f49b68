// SPDX-License-Identifier: MIT
#include "library/outcome.h"

#include <cstring>

#include "library/system_words.h"
#include "platform/utf8.h"

namespace tarvelin {
namespace {

int PublicStep(FailedStep step) {
  switch (step) {
    case FailedStep::kNone: return TARVELIN_STEP_NONE;
    case FailedStep::kBadPath: return TARVELIN_STEP_BAD_PATH;
    case FailedStep::kNameTooLong: return TARVELIN_STEP_NAME_TOO_LONG;
    case FailedStep::kDeviceName: return TARVELIN_STEP_DEVICE_NAME;
    case FailedStep::kNotFound: return TARVELIN_STEP_NOT_FOUND;
    case FailedStep::kOpen: return TARVELIN_STEP_OPEN;
    case FailedStep::kCreate: return TARVELIN_STEP_CREATE;
    case FailedStep::kAppeared: return TARVELIN_STEP_APPEARED;
    case FailedStep::kNotOurs: return TARVELIN_STEP_NOT_OURS;
    case FailedStep::kMeasure: return TARVELIN_STEP_MEASURE;
    case FailedStep::kRead: return TARVELIN_STEP_READ;
    case FailedStep::kWrite: return TARVELIN_STEP_WRITE;
    case FailedStep::kRecord: return TARVELIN_STEP_RECORD;
    case FailedStep::kCut: return TARVELIN_STEP_CUT;
    case FailedStep::kFlush: return TARVELIN_STEP_FLUSH;
    case FailedStep::kFlushFolder: return TARVELIN_STEP_FLUSH_FOLDER;
    case FailedStep::kClose: return TARVELIN_STEP_CLOSE;
    case FailedStep::kDelete: return TARVELIN_STEP_DELETE;
    case FailedStep::kClearStale: return TARVELIN_STEP_CLEAR_STALE;
    case FailedStep::kMismatch: return TARVELIN_STEP_MISMATCH;
    case FailedStep::kChanged: return TARVELIN_STEP_CHANGED;
    case FailedStep::kNoMemory: return TARVELIN_STEP_NO_MEMORY;
    case FailedStep::kCancelled: return TARVELIN_STEP_CANCELLED;
    case FailedStep::kNoSpace: return TARVELIN_STEP_NO_SPACE;
    case FailedStep::kPartOfASplit: return TARVELIN_STEP_PART_OF_A_SPLIT;
    case FailedStep::kBadOptions: return TARVELIN_STEP_BAD_OPTIONS;
    case FailedStep::kTooLargeForMedium: return TARVELIN_STEP_TOO_LARGE_FOR_MEDIUM;
    case FailedStep::kNameNotAllowed: return TARVELIN_STEP_NAME_NOT_ALLOWED;
    case FailedStep::kReadBack: return TARVELIN_STEP_READ_BACK;
  }
  return TARVELIN_STEP_NONE;
}

int PublicRole(FileRole role) {
  switch (role) {
    case FileRole::kNone: return TARVELIN_ROLE_NONE;
    case FileRole::kSource: return TARVELIN_ROLE_SOURCE;
    case FileRole::kPiece: return TARVELIN_ROLE_PIECE;
    case FileRole::kManifest: return TARVELIN_ROLE_MANIFEST;
    case FileRole::kRebuilt: return TARVELIN_ROLE_REBUILT;
    case FileRole::kOutput: return TARVELIN_ROLE_OUTPUT;
  }
  return TARVELIN_ROLE_NONE;
}

int PublicWhole(WholeState state) {
  switch (state) {
    case WholeState::kNotChecked: return TARVELIN_WHOLE_NOT_CHECKED;
    case WholeState::kMatches: return TARVELIN_WHOLE_MATCHES;
    case WholeState::kDiffers: return TARVELIN_WHOLE_DIFFERS;
    case WholeState::kIncomplete: return TARVELIN_WHOLE_INCOMPLETE;
    case WholeState::kUnreadable: return TARVELIN_WHOLE_UNREADABLE;
    case WholeState::kPartial: return TARVELIN_WHOLE_PARTIAL;
    case WholeState::kNotOurs: return TARVELIN_WHOLE_NOT_OURS;
  }
  return TARVELIN_WHOLE_NOT_CHECKED;
}

std::uint32_t Details(const FailureReport& failure) {
  std::uint32_t details = 0;
  if (failure.sharing_conflict) details |= TARVELIN_DETAIL_SHARING_CONFLICT;
  if (failure.source_unrecorded) details |= TARVELIN_DETAIL_SOURCE_UNRECORDED;
  if (failure.not_resumable) details |= TARVELIN_DETAIL_NOT_RESUMABLE;
  if (failure.recorded_zero) details |= TARVELIN_DETAIL_RECORDED_ZERO;
  if (failure.record_malformed) details |= TARVELIN_DETAIL_RECORD_MALFORMED;
  return details;
}

void AddVerifyReport(const VerifyReport& verify, tarvelin_outcome* out) {
  out->file_existed = verify.file_exists;
  out->manifest_found = verify.manifest_found;
  out->unrecorded = verify.unrecorded;
  out->recorded = verify.recorded;
  out->source_recorded = verify.source_fingerprint_recorded;
  out->joined = PublicWhole(verify.joined);
  out->joined_stop = verify.joined_stop;
  out->existing = PublicWhole(verify.existing);
  out->resume_from = verify.resume_from;
  out->resume_cut = verify.resume_cut;
  out->deciding_piece = verify.deciding_piece;
}

}  // namespace

int KindAt(Platform& platform, const wchar_t* name) {
  EntryAttributes entry;
  if (name == nullptr || *name == L'\0' || !platform.GetFileAttributes(name, &entry)) {
    return TARVELIN_KIND_UNKNOWN;
  }
  switch (entry.kind) {
    case EntryKind::kNothing: return TARVELIN_KIND_NONE;
    case EntryKind::kFile: return TARVELIN_KIND_FILE;
    case EntryKind::kDevice: return TARVELIN_KIND_DEVICE;
    case EntryKind::kFolder: return TARVELIN_KIND_FOLDER;
    case EntryKind::kLink: return TARVELIN_KIND_LINK;
  }
  return TARVELIN_KIND_UNKNOWN;
}

void CopyUtf8(const std::string& text, char* out, std::size_t size) {
  if (size == 0) return;
  std::size_t length = text.size() < size ? text.size() : size - 1;
  // Back to the start of a character: a continuation byte is 10xxxxxx.
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

tarvelin_outcome MakeOutcome(Platform& platform, ResultCode code, const FailureReport& failure,
                             const OperationFacts& facts, const VerifyReport* verify) {
  tarvelin_outcome out;
  std::memset(&out, 0, sizeof out);
  out.size = sizeof out;
  out.code = code;
  out.step = PublicStep(failure.step);
  out.role = PublicRole(failure.role);
  out.piece = failure.piece;
  CopyUtf8(WideToUtf8(failure.file), out.file, sizeof out.file);
  // What stands at the name now, for words such as "it is a folder".
  if (failure.failed() && !failure.file.empty()) {
    out.file_kind = KindAt(platform, failure.file.c_str());
  }
  out.system_error = failure.system_error;
  CopyUtf8(SystemErrorWords(failure.system_error), out.system_message,
           sizeof out.system_message);
  out.details = Details(failure);
  out.missing_piece = failure.missing_piece;
  out.pieces = facts.pieces;
  out.bytes = facts.bytes;
  out.resumed_from = facts.resumed_from;
  out.tidied = facts.tidied;
  out.file_existed = facts.file_existed;
  out.manifest_found = facts.manifest_found;
  out.unrecorded = facts.unrecorded;
  out.space_needed = facts.space_needed;
  out.space_free = facts.space_free;
  out.read_back = facts.read_back;
  switch (facts.file_system) {
    case OperationFacts::FileSystem::kUnknown: out.file_system = TARVELIN_FS_UNKNOWN; break;
    case OperationFacts::FileSystem::kOther: out.file_system = TARVELIN_FS_OTHER; break;
    case OperationFacts::FileSystem::kFat: out.file_system = TARVELIN_FS_FAT; break;
  }
  out.joined_stop = -1;
  out.resume_from = -1;
  out.deciding_piece = -1;
  if (verify != nullptr) AddVerifyReport(*verify, &out);
  return out;
}

}  // namespace tarvelin
