// SPDX-License-Identifier: MIT
// Runs a harness over the files of the folders (or files) given, without
// libFuzzer, so that any compiler can replay a corpus: the test suite replays
// the seed corpora in every build, sanitizers included. A broken property
// aborts, as it does under the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int arg = 1; arg < argc; ++arg) {
    const std::filesystem::path given(argv[arg]);
    if (std::filesystem::is_directory(given)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(given)) files.push_back(entry);
      for (const auto& file : files) replayed += Replay(file);
    } else {
      replayed += Replay(given);
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
