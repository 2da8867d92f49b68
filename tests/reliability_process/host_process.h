// SPDX-License-Identifier: MIT
// Runs crash_host (see crash_host.cc) as a child process: started at once or
// held at a start gate shared by several hosts, killed at any moment, and
// waited for, with the line that it printed parsed.
#ifndef TARVELIN_TESTS_RELIABILITY_PROCESS_HOST_PROCESS_H_
#define TARVELIN_TESTS_RELIABILITY_PROCESS_HOST_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvelin::testing {

// What a host did. A killed host reported nothing.
struct HostOutcome {
  bool killed = false;     // ended by a signal
  std::string result;      // "RC_OK", "RC_FILE_WRITE", ...; empty when killed
  long long start_ns = 0;  // the operation's span on the monotonic clock
  long long end_ns = 0;
  int changes = 0;         // calls that changed something on disk

  // Failed, or succeeded without changing anything: the other side won.
  bool Refused() const { return result != "RC_OK" || changes == 0; }
};

// A pipe whose closing lets every host that waits at it go at once.
class StartGate {
 public:
  StartGate();
  ~StartGate();
  StartGate(const StartGate&) = delete;
  StartGate& operator=(const StartGate&) = delete;

  int read_end() const { return read_end_; }
  void Open();

 private:
  int read_end_ = -1;
  int write_end_ = -1;
};

class HostProcess {
 public:
  // Starts crash_host with `args` (after the options below). With a gate the
  // host waits at it, and the constructor returns once it is waiting.
  // `max_file_size` > 0 sets the host's RLIMIT_FSIZE.
  explicit HostProcess(const std::vector<std::string>& args, StartGate* gate = nullptr,
                       unsigned long long max_file_size = 0);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  void Kill();
  // Waits for the end of the host; call once.
  HostOutcome Wait();

 private:
  pid_t pid_ = -1;
  int report_ = -1;  // the host's standard output
  bool waited_ = false;
};

// Runs a host to its end.
HostOutcome RunHost(const std::vector<std::string>& args, unsigned long long max_file_size = 0);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_PROCESS_HOST_PROCESS_H_
