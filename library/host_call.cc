// SPDX-License-Identifier: MIT
#include "library/host_call.h"

#include <cstring>

#include "library/outcome.h"
#include "library/system_words.h"
#include "platform/platform_errors.h"
#include "platform/utf8.h"

namespace tarvelin {
namespace {

// A struct smaller than its first version is no version of it; one larger
// than this version's comes from a newer header, and its fields past ours
// must be unused (zero), or the host asked for what this version cannot do.
// The outcome's first version is this one.
constexpr std::uint32_t kOptionsFirstSize = TARVELIN_OPTIONS_SIZE_1;
constexpr std::uint32_t kLargestStruct = 65536;
// The host's progress callback is called at most ten times a second.
constexpr std::uint32_t kProgressIntervalMs = 100;
constexpr std::uint32_t kKnownFlags = TARVELIN_CHECK_SPACE | TARVELIN_KEEP_SOURCE |
                                     TARVELIN_KEEP_PIECES | TARVELIN_READ_BACK |
                                     TARVELIN_NO_READ_BACK;
constexpr std::uint32_t kOutcomeFirstSize = TARVELIN_OUTCOME_SIZE_1;
constexpr std::uint64_t kDefaultPieceSize = 4095ull * 1048576;

bool TailIsZero(const void* host, std::uint32_t size, std::uint32_t known) {
  const auto* bytes = static_cast<const unsigned char*>(host);
  for (std::uint32_t i = known; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

int PublicPhase(Phase phase) {
  switch (phase) {
    case Phase::kFingerprintSource: return TARVELIN_PHASE_FINGERPRINT_SOURCE;
    case Phase::kCheckEarlierOutput: return TARVELIN_PHASE_CHECK_EARLIER_OUTPUT;
    case Phase::kCutPiece: return TARVELIN_PHASE_CUT_PIECE;
    case Phase::kFingerprintPiece: return TARVELIN_PHASE_FINGERPRINT_PIECE;
    case Phase::kFlushPieces: return TARVELIN_PHASE_FLUSH;
    case Phase::kFindJoined: return TARVELIN_PHASE_FIND_JOINED;
    case Phase::kVerifyPiece: return TARVELIN_PHASE_VERIFY_PIECE;
    case Phase::kJoinPiece: return TARVELIN_PHASE_JOIN_PIECE;
    case Phase::kVerifyWhole: return TARVELIN_PHASE_VERIFY_WHOLE;
    case Phase::kFingerprint: return TARVELIN_PHASE_FINGERPRINT;
    case Phase::kReadBack: return TARVELIN_PHASE_READ_BACK;
    case Phase::kStreamPiece: return TARVELIN_PHASE_STREAM_PIECE;
  }
  return 0;
}

int PublicState(PieceState state) {
  switch (state) {
    case PieceState::kOk: return TARVELIN_PIECE_OK;
    case PieceState::kFailed: return TARVELIN_PIECE_FAILED;
    case PieceState::kUnreadable: return TARVELIN_PIECE_UNREADABLE;
    case PieceState::kMissing: return TARVELIN_PIECE_MISSING;
    case PieceState::kJoined: return TARVELIN_PIECE_JOINED;
    case PieceState::kNotRecorded: return TARVELIN_PIECE_NOT_RECORDED;
  }
  return 0;
}

}  // namespace

HostCall::HostCall(const tarvelin_options* options, tarvelin_outcome* outcome)
    : outcome_(outcome) {
  host_.size = sizeof host_;
  if (options != nullptr) {
    // Read no further than the host's struct reaches.
    const std::uint32_t size = options->size;
    std::memcpy(&host_, options, size < sizeof host_ ? size : sizeof host_);
    host_.size = size;
    checked_ = size >= kOptionsFirstSize && size <= kLargestStruct &&
               TailIsZero(options, size, sizeof host_);
  } else {
    checked_ = true;
  }
}

ResultCode HostCall::CheckStructs() {
  if (outcome_ != nullptr &&
      (outcome_->size < kOutcomeFirstSize || outcome_->size > kLargestStruct)) {
    outcome_ = nullptr;  // not ours to write
    return RC_INVALID_ARGUMENT;
  }
  // A piece holds whole chunks: a smaller limit could hold none.
  const bool piece_size_ok = host_.piece_size == 0 || host_.piece_size >= kChunkSize;
  const std::uint32_t read_back = TARVELIN_READ_BACK | TARVELIN_NO_READ_BACK;
  if (!checked_ || (host_.flags & ~kKnownFlags) != 0 || (host_.flags & read_back) == read_back ||
      !piece_size_ok) {
    return Refuse(RC_INVALID_ARGUMENT, FailedStep::kBadOptions, kErrorInvalidParameter);
  }
  if (host_.piece_folder != nullptr &&
      (*host_.piece_folder == '\0' || !PathFromUtf8(host_.piece_folder, &piece_folder_))) {
    return Refuse(RC_INVALID_PATH, FailedStep::kBadPath, kErrorInvalidParameter);
  }
  return RC_OK;
}

ResultCode HostCall::Begin(const char* path) {
  const ResultCode checked = CheckStructs();
  if (checked != RC_OK) return checked;
  if (path == nullptr || *path == '\0' || !PathFromUtf8(path, &path_)) {
    return Refuse(RC_INVALID_PATH, FailedStep::kBadPath, kErrorInvalidParameter);
  }
  return RC_OK;
}

ResultCode HostCall::Begin(const wchar_t* path) {
  const ResultCode checked = CheckStructs();
  if (checked != RC_OK) return checked;
  if (path == nullptr || *path == L'\0') {
    return Refuse(RC_INVALID_PATH, FailedStep::kBadPath, kErrorInvalidParameter);
  }
  path_ = path;
  return RC_OK;
}

std::uint64_t HostCall::piece_limit() const {
  return host_.piece_size == 0 ? kDefaultPieceSize : host_.piece_size;
}

const OperationOptions& HostCall::options(std::uint32_t flags) {
  options_.failure = &failure_;
  options_.facts = &facts_;
  options_.name_capacity = kLongNameCapacity;
  const auto asked = [this](std::uint32_t flag) { return (host_.flags & flag) != 0; };
  const bool read_back = asked(TARVELIN_READ_BACK) ||
                         (!piece_folder_.empty() && !asked(TARVELIN_NO_READ_BACK));
  options_.flags = flags | (asked(TARVELIN_CHECK_SPACE) ? kCheckSpace : 0u) |
                   (asked(TARVELIN_KEEP_SOURCE) ? kKeepSource : 0u) |
                   (asked(TARVELIN_KEEP_PIECES) ? kKeepPieces : 0u) | (read_back ? kReadBack : 0u);
  options_.piece_folder = piece_folder_;
  options_.cancel = host_.cancel;
  if (host_.progress != nullptr) {
    options_.progress = &HostCall::OnProgress;
    options_.progress_context = this;
    options_.progress_interval_ms = kProgressIntervalMs;
  }
  if (host_.piece != nullptr) {
    options_.on_piece = &HostCall::OnPiece;
    options_.piece_context = this;
  }
  return options_;
}

ResultCode HostCall::Refuse(ResultCode code, FailedStep step, std::uint32_t error) {
  ReportFailure(&failure_, step, FileRole::kNone, nullptr, error);
  return Finish(code);
}

ResultCode HostCall::Finish(ResultCode code, const VerifyReport* verify) {
  if (outcome_ == nullptr) return code;
  const tarvelin_outcome full =
      MakeOutcome(DefaultPlatform(), code, failure_, facts_, verify);
  // Fields past this version's are the host's, and stay as it set them;
  // an older host's struct ends sooner.
  const std::uint32_t size = outcome_->size;
  std::memcpy(outcome_, &full, size < sizeof full ? size : sizeof full);
  outcome_->size = size;
  return code;
}

bool HostCall::OnProgress(const ProgressEvent& event, void* self) {
  const HostCall& call = *static_cast<HostCall*>(self);
  tarvelin_progress progress;
  progress.phase = PublicPhase(event.phase);
  progress.piece = event.piece;
  progress.piece_count = event.piece_count;
  progress.done = event.done;
  progress.total = event.total;
  return call.host_.progress(&progress, call.host_.user_data) == 0;
}

void HostCall::OnPiece(const PieceCheck& check, void* self) {
  HostCall& call = *static_cast<HostCall*>(self);
  call.piece_name_ = WideToUtf8(check.name);
  tarvelin_piece piece;
  std::memset(&piece, 0, sizeof piece);
  piece.number = check.number;
  piece.name = call.piece_name_.c_str();
  piece.state = PublicState(check.state);
  const bool unreadable = check.state == PieceState::kUnreadable;
  piece.system_error = unreadable ? check.error : 0;
  call.piece_words_ = unreadable ? SystemErrorWords(check.error) : std::string();
  piece.system_message = call.piece_words_.c_str();
  piece.open_failed = unreadable && check.open_failed;
  piece.file_kind = unreadable ? KindAt(DefaultPlatform(), check.name.c_str())
                               : TARVELIN_KIND_UNKNOWN;
  call.host_.piece(&piece, call.host_.user_data);
}

}  // namespace tarvelin
