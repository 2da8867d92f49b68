// SPDX-License-Identifier: MIT
#include "tests/cli/tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tarvelin::testing {
namespace {

// A scratch file for one stream, removed when it has been read.
class Capture {
 public:
  Capture() {
    char name[] = "/tmp/tarvelin-tool-test-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    path_ = name;
  }
  ~Capture() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
};

ToolRun Spawn(const std::vector<std::string>& argv) {
  Capture out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.path().c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.path().c_str(), O_WRONLY | O_TRUNC, 0);
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ToolRun run;
  if (spawned != 0) {
    run.err = "posix_spawn failed";
    return run;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  run.out = out.Read();
  run.err = err.Read();
  return run;
}

}  // namespace

const char* ToolPath() { return TARVELIN_TOOL_PATH; }

ToolRun RunTool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv);
}

ToolRun RunShell(const std::string& command) { return Spawn({"/bin/sh", "-c", command}); }

ToolRun RunToolOnTerminal(const std::vector<std::string>& args) {
  std::string command = ShellQuoted(ToolPath());
  for (const std::string& arg : args) command += " " + ShellQuoted(arg);
  return RunShell("script -qfec " + ShellQuoted(command) + " /dev/null");
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace tarvelin::testing
