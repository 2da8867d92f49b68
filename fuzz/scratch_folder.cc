// SPDX-License-Identifier: MIT
#include "fuzz/scratch_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tarvelin::fuzz {
namespace {

void RemoveScratchFolder() {
  EmptyScratchFolder();
  rmdir(ScratchFolder().c_str());
}

std::string MakeScratchFolder() {
  struct stat info;
  const std::string root =
      stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
  const std::string folder = root + "/tarvelin-fuzz-" + std::to_string(getpid());
  if (mkdir(folder.c_str(), 0700) != 0 &&
      !(stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
    std::perror(folder.c_str());
    std::abort();
  }
  return folder;
}

}  // namespace

const std::string& ScratchFolder() {
  // Never destroyed: the exit handler that removes the folder needs it.
  static const std::string* const folder = [] {
    auto* made = new std::string(MakeScratchFolder());
    std::atexit(RemoveScratchFolder);
    return made;
  }();
  return *folder;
}

void WriteNewFile(const std::string& path, const std::string& bytes) {
  unlink(path.c_str());
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::abort();
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
    if (count <= 0) {
      std::perror(path.c_str());
      std::abort();
    }
    done += static_cast<std::size_t>(count);
  }
  close(fd);
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[65536];
  for (;;) {
    const ssize_t count = read(fd, block, sizeof block);
    if (count <= 0) break;
    bytes->append(block, static_cast<std::size_t>(count));
  }
  close(fd);
  return true;
}

void EmptyScratchFolder() {
  DIR* folder = opendir(ScratchFolder().c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    unlink((ScratchFolder() + "/" + name).c_str());
  }
  closedir(folder);
}

void Violation(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace tarvelin::fuzz
