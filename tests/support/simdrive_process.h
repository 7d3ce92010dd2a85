#pragma once
// `dcservo simdrive` in a process of its own for the tests of the drive link: started on a
// free loopback port (or a device the test names), waited for until it serves, killed with
// the object.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/test_setups.h"

namespace testing_support {

class SimDriveProcess {
 public:
  // `args` after `dcservo simdrive`, quoted as a shell would need; `shell_prefix` runs in
  // the shell first (a limit of the process, say).
  explicit SimDriveProcess(const std::string& args, const std::string& shell_prefix = "") {
    // Built before the fork: the child of a process with other threads (the serial cable's)
    // may only call what is safe after a fork, and an allocator whose lock another thread
    // held at the fork would hang it for good.
    const std::string command =
        shell_prefix + "exec '" + BinaryDir() + "/dcservo' simdrive " + args;
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      close(out[0]);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    ReadServingLine(out[0]);
    close(out[0]);
  }
  ~SimDriveProcess() { Kill(); }
  SimDriveProcess(const SimDriveProcess&) = delete;
  SimDriveProcess& operator=(const SimDriveProcess&) = delete;

  // As a pulled cable or a crashed server: no goodbye.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // "tcp://127.0.0.1:PORT" or "rtu:DEVICE,BAUD", empty when it did not come up.
  const std::string& Address() const { return address_; }

 private:
  void ReadServingLine(int fd) {
    // Generous: a sanitized server on a machine busy with a build takes seconds to start,
    // and only a server that never comes up waits the whole time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string line;
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(fd, &c, 1) != 1) return;
      if (c == '\n') break;
      line += c;
    }
    // "serving ADDRESS unit N"
    const auto start = line.find(' ') + 1, end = line.find(' ', start);
    if (line.starts_with("serving ") && end != std::string::npos)
      address_ = line.substr(start, end - start);
  }

  pid_t pid_ = -1;
  std::string address_;
};

}  // namespace testing_support
