// SPDX-License-Identifier: MIT
// Runs one split, merge or verify through the library's internal API and
// prints the result code's name, so that the speed report can time the whole
// process against shell pipelines doing the same work.
//
// usage: operation_tool split PATH MIB
//        operation_tool merge PATH
//        operation_tool verify PATH
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
  std::fprintf(stderr, "usage: %s split PATH MIB\n       %s merge PATH\n       %s verify PATH\n",
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage(argv[0]);
  const std::string operation = argv[1];
  const std::wstring path = tarvelin::Utf8ToWide(argv[2]);

  ResultCode result;
  if (operation == "split" && argc == 4) {
    std::int32_t mib = 0;
    if (!ParseMib(argv[3], &mib)) return Usage(argv[0]);
    result = tarvelin::Split(path.c_str(), tarvelin::PieceLimit(mib));
  } else if (operation == "merge" && argc == 3) {
    result = tarvelin::Merge(path.c_str());
  } else if (operation == "verify" && argc == 3) {
    result = tarvelin::Verify(path.c_str(), tarvelin::OperationOptions(), nullptr);
  } else {
    return Usage(argv[0]);
  }
  std::printf("%s\n", tarvelin::ResultCodeName(result));
  return result == RC_OK ? 0 : 1;
}
