// SPDX-License-Identifier: MIT
// The library's own functions (tarvelin.h): each checks the host's structs
// and path, runs the operation with the host's options, and answers with the
// code and the outcome. No exception leaves them.
#include <cstring>
#include <string>

#include "library/file_fingerprint.h"
#include "library/host_call.h"
#include "library/naming.h"
#include "library/operations.h"
#include "library/result_codes.h"
#include "library/split_set.h"
#include "library/verify.h"
#include "platform/platform_errors.h"
#include "platform/utf8.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin {
namespace {

// Checks the host's structs and path, then runs `operate` on the call.
// Only memory for the path or the names can run out before an operation
// begins, and nothing was touched then: RC_FILE_READ.
template <typename Char, typename Operate>
ResultCode RunHosted(const Char* path, const tarvelin_options* options, tarvelin_outcome* outcome,
                     Operate operate) {
  try {
    HostCall call(options, outcome);
    const ResultCode begun = call.Begin(path);
    return begun != RC_OK ? begun : operate(call);
  } catch (...) {
    return RC_FILE_READ;
  }
}

template <typename Char>
ResultCode RunSplit(const Char* path, const tarvelin_options* options,
                    tarvelin_outcome* outcome) {
  return RunHosted(path, options, outcome, [](HostCall& call) {
    // Keeping the pieces is the merge's: a split asked for it would delete
    // the source that the host meant to keep.
    if (call.Asked(TARVELIN_KEEP_PIECES)) return call.RefuseOptions();
    return call.Finish(Split(call.path(), call.piece_limit(), call.options()));
  });
}

template <typename Char>
ResultCode RunMerge(const Char* path, const tarvelin_options* options,
                    tarvelin_outcome* outcome) {
  return RunHosted(path, options, outcome, [](HostCall& call) {
    // The split's own options: a merge asked to keep "the source" would
    // delete the pieces that the host meant to keep.
    if (call.Asked(TARVELIN_KEEP_SOURCE | TARVELIN_READ_BACK | TARVELIN_NO_READ_BACK)) {
      return call.RefuseOptions();
    }
    return call.Finish(Merge(call.path(), call.options(kRefusePartOfASplit)));
  });
}

template <typename Char>
ResultCode RunVerify(const Char* path, const tarvelin_options* options,
                     tarvelin_outcome* outcome) {
  return RunHosted(path, options, outcome, [](HostCall& call) {
    VerifyReport report;
    const ResultCode code = Verify(call.path(), call.options(kRefusePartOfASplit), &report);
    return call.Finish(code, &report);
  });
}

// The host's write callback, as the stream calls it.
std::uint32_t GiveToHost(const void* bytes, std::size_t size, void* call) {
  const HostCall& host = *static_cast<const HostCall*>(call);
  return static_cast<std::uint32_t>(host.output()(bytes, size, host.user_data()));
}

template <typename Char>
ResultCode RunCat(const Char* path, const tarvelin_options* options, tarvelin_outcome* outcome) {
  return RunHosted(path, options, outcome, [](HostCall& call) {
    if (call.output() == nullptr) {
      return call.RefuseOptions();
    }
    return call.Finish(Stream(call.path(), &GiveToHost, &call, call.options(kRefusePartOfASplit)));
  });
}

template <typename Char>
ResultCode RunFingerprint(const Char* path, char* text, const tarvelin_options* options,
                          tarvelin_outcome* outcome) {
  return RunHosted(path, options, outcome, [text](HostCall& call) {
    if (text == nullptr) {
      return call.RefuseOptions();
    }
    text[0] = '\0';
    return call.Finish(FingerprintFile(call.path(), call.options(), text));
  });
}

// As snprintf: up to `size` bytes with the terminator, and the whole length.
std::size_t GiveName(const std::wstring& name, char* out, std::size_t size) {
  const std::string utf8 = WideToUtf8(name);
  if (out != nullptr && size > 0) {
    const std::size_t length = utf8.size() < size ? utf8.size() : size - 1;
    std::memcpy(out, utf8.data(), length);
    out[length] = '\0';
  }
  return utf8.size();
}

// The names of the split of `path`, empty when it is no path or a name
// would not fit.
bool DeriveNames(const char* path, SplitSet* set) {
  std::wstring wide;
  return path != nullptr && *path != '\0' && PathFromUtf8(path, &wide) &&
         set->Derive(wide.c_str(), kLongNameCapacity);
}

}  // namespace
}  // namespace tarvelin

using namespace tarvelin;

extern "C" {

ResultCode TARVELIN_CALL tarvelin_split(const char* path, const tarvelin_options* options,
                                        tarvelin_outcome* outcome) {
  return RunSplit(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_merge(const char* path, const tarvelin_options* options,
                                        tarvelin_outcome* outcome) {
  return RunMerge(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_verify(const char* path, const tarvelin_options* options,
                                         tarvelin_outcome* outcome) {
  return RunVerify(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_cat(const char* path, const tarvelin_options* options,
                                      tarvelin_outcome* outcome) {
  return RunCat(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_fingerprint(const char* path,
                                              char text[TARVELIN_FINGERPRINT_BYTES],
                                              const tarvelin_options* options,
                                              tarvelin_outcome* outcome) {
  return RunFingerprint(path, text, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_fingerprint_stream(tarvelin_read_callback read, void* source,
                                                     char text[TARVELIN_FINGERPRINT_BYTES],
                                                     const tarvelin_options* options,
                                                     tarvelin_outcome* outcome) {
  try {
    HostCall call(options, outcome);
    const ResultCode begun = call.BeginStream();
    if (begun != RC_OK) return begun;
    if (read == nullptr || text == nullptr) {
      return call.RefuseOptions();
    }
    text[0] = '\0';
    return call.Finish(FingerprintStream(read, source, call.options(), text));
  } catch (...) {
    return RC_FILE_READ;
  }
}

std::size_t TARVELIN_CALL tarvelin_manifest_name(const char* path, char* out, std::size_t size) {
  try {
    SplitSet set;
    if (!DeriveNames(path, &set)) return GiveName(std::wstring(), out, size);
    return GiveName(set.manifest(), out, size);
  } catch (...) {
    return 0;
  }
}

std::size_t TARVELIN_CALL tarvelin_piece_name(const char* path, std::int32_t piece, char* out,
                                              std::size_t size) {
  try {
    SplitSet set;
    if (piece < 0 || !DeriveNames(path, &set)) return GiveName(std::wstring(), out, size);
    return GiveName(set.PieceName(piece), out, size);
  } catch (...) {
    return 0;
  }
}

const char* TARVELIN_CALL tarvelin_code_name(ResultCode code) { return ResultCodeName(code); }

#define TARVELIN_TEXT_OF(x) #x
#define TARVELIN_VERSION_TEXT(major, minor, patch) \
  TARVELIN_TEXT_OF(major) "." TARVELIN_TEXT_OF(minor) "." TARVELIN_TEXT_OF(patch)

const char* TARVELIN_CALL tarvelin_version(void) {
  return TARVELIN_VERSION_TEXT(TARVELIN_VERSION_MAJOR, TARVELIN_VERSION_MINOR,
                               TARVELIN_VERSION_PATCH);
}

#if defined(_WIN32)
ResultCode TARVELIN_CALL tarvelin_split_w(const wchar_t* path, const tarvelin_options* options,
                                          tarvelin_outcome* outcome) {
  return RunSplit(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_merge_w(const wchar_t* path, const tarvelin_options* options,
                                          tarvelin_outcome* outcome) {
  return RunMerge(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_cat_w(const wchar_t* path, const tarvelin_options* options,
                                        tarvelin_outcome* outcome) {
  return RunCat(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_verify_w(const wchar_t* path, const tarvelin_options* options,
                                           tarvelin_outcome* outcome) {
  return RunVerify(path, options, outcome);
}

ResultCode TARVELIN_CALL tarvelin_fingerprint_w(const wchar_t* path,
                                                char text[TARVELIN_FINGERPRINT_BYTES],
                                                const tarvelin_options* options,
                                                tarvelin_outcome* outcome) {
  return RunFingerprint(path, text, options, outcome);
}
#endif

}  // extern "C"
