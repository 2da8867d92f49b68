// SPDX-License-Identifier: MIT
#include "tests/reliability_process/host_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tarvelin::testing {
namespace {

void ClosePipeEnd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

}  // namespace

StartGate::StartGate() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  read_end_ = ends[0];
  write_end_ = ends[1];
}

StartGate::~StartGate() {
  ClosePipeEnd(&read_end_);
  ClosePipeEnd(&write_end_);
}

void StartGate::Open() { ClosePipeEnd(&write_end_); }

HostProcess::HostProcess(const std::vector<std::string>& args, StartGate* gate,
                         unsigned long long max_file_size) {
  std::vector<std::string> argv_text = {TARVELIN_CRASH_HOST};
  if (gate != nullptr) argv_text.push_back("--gated");
  if (max_file_size > 0) {
    argv_text.push_back("--max-file-size");
    argv_text.push_back(std::to_string(max_file_size));
  }
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
  if (gate != nullptr) posix_spawn_file_actions_adddup2(&actions, gate->read_end(), STDIN_FILENO);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(report[1]);
  report_ = report[0];
  if (spawned != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv_text[0]);
  }
  if (gate != nullptr && ReadLine(report_) != "ready") {
    throw std::runtime_error("the host did not reach its start gate");
  }
}

HostProcess::~HostProcess() {
  if (pid_ > 0 && !waited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  ClosePipeEnd(&report_);
}

void HostProcess::Kill() { kill(pid_, SIGKILL); }

HostOutcome HostProcess::Wait() {
  HostOutcome outcome;
  const std::string line = ReadLine(report_);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  outcome.killed = WIFSIGNALED(status);
  if (!outcome.killed) {
    std::istringstream fields(line);
    fields >> outcome.result >> outcome.start_ns >> outcome.end_ns >> outcome.changes;
    if (outcome.result.empty())
      outcome.result = "exit status " + std::to_string(WEXITSTATUS(status));
  }
  return outcome;
}

HostOutcome RunHost(const std::vector<std::string>& args, unsigned long long max_file_size) {
  HostProcess host(args, nullptr, max_file_size);
  return host.Wait();
}

}  // namespace tarvelin::testing
