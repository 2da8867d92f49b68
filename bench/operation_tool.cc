// SPDX-License-Identifier: MIT
// Runs one split, merge or verify through the library's internal API and
// prints the result code's name, so that the speed report can time the whole
// process against shell pipelines doing the same work.
//
// usage: operation_tool split PATH MIB [--to FOLDER] [--keep] [--read-back | --no-read-back]
//        operation_tool merge PATH [--from FOLDER] [--keep]
//        operation_tool verify PATH [--from FOLDER]
//   --to, --from    the folder that receives or holds the pieces and the
//                   manifest (default: beside PATH)
//   --keep          split: keep the source; merge: delete neither pieces nor
//                   manifest
//   --read-back     split: read every piece and the manifest back past the
//                   system's cache before the source may go; the default
//                   with --to, as in the public API
//   --no-read-back  split: not even with --to
// Exit status: 0 for RC_OK, 1 for any other result, 2 for a usage error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "library/operations.h"
#include "library/result_codes.h"
#include "library/verify.h"
#include "platform/utf8.h"

namespace {

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s split PATH MIB [--to FOLDER] [--keep] [--read-back | --no-read-back]\n"
               "       %s merge PATH [--from FOLDER] [--keep]\n"
               "       %s verify PATH [--from FOLDER]\n",
               program, program, program);
  return 2;
}

// A whole number within int32, as the split takes it (negative included).
bool ParseMib(const char* text, std::int32_t* mib) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > INT32_MAX) {
    return false;
  }
  *mib = static_cast<std::int32_t>(value);
  return true;
}

enum class ReadBack { kDefault, kOn, kOff };

// The options after the operation's own arguments, from argv[first] on; an
// option that the operation does not take is a usage error.
struct Extras {
  std::wstring folder;
  bool keep = false;
  ReadBack read_back = ReadBack::kDefault;
};

bool ParseExtras(int argc, char** argv, int first, const std::string& operation,
                 Extras* extras) {
  const bool split = operation == "split";
  for (int i = first; i < argc; ++i) {
    const std::string option = argv[i];
    if ((option == (split ? "--to" : "--from")) && i + 1 < argc && argv[i + 1][0] != '\0') {
      extras->folder = tarvelin::Utf8ToWide(argv[++i]);
    } else if (option == "--keep" && operation != "verify") {
      extras->keep = true;
    } else if (option == "--read-back" && split && extras->read_back == ReadBack::kDefault) {
      extras->read_back = ReadBack::kOn;
    } else if (option == "--no-read-back" && split && extras->read_back == ReadBack::kDefault) {
      extras->read_back = ReadBack::kOff;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage(argv[0]);
  const std::string operation = argv[1];
  const std::wstring path = tarvelin::Utf8ToWide(argv[2]);
  const bool split = operation == "split";
  if (!split && operation != "merge" && operation != "verify") return Usage(argv[0]);
  if (split && argc < 4) return Usage(argv[0]);

  Extras extras;
  if (!ParseExtras(argc, argv, split ? 4 : 3, operation, &extras)) return Usage(argv[0]);
  tarvelin::OperationOptions options;
  options.piece_folder = extras.folder;
  if (extras.keep) options.flags |= split ? tarvelin::kKeepSource : tarvelin::kKeepPieces;
  const bool read_back = extras.read_back == ReadBack::kOn ||
                         (extras.read_back == ReadBack::kDefault && !extras.folder.empty());
  if (split && read_back) options.flags |= tarvelin::kReadBack;

  ResultCode result;
  if (split) {
    std::int32_t mib = 0;
    if (!ParseMib(argv[3], &mib)) return Usage(argv[0]);
    result = tarvelin::Split(path.c_str(), tarvelin::PieceLimit(mib), options);
  } else if (operation == "merge") {
    result = tarvelin::Merge(path.c_str(), options);
  } else {
    result = tarvelin::Verify(path.c_str(), options, nullptr);
  }
  std::printf("%s\n", tarvelin::ResultCodeName(result));
  return result == RC_OK ? 0 : 1;
}
