// A simulator child process (qemu-system-arm, s51): started with its
// standard input and output on /dev/null and a private temporary folder for
// its sockets, killed and reaped when the object goes (and by the kernel
// when the emulator dies first).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sim {

class ChildProcess {
 public:
  // Starts `program` for `machine` with the firmware ELF; throws
  // std::runtime_error when the folder or the process cannot be made.
  ChildProcess(const std::string& program, const std::string& machine, const std::string& firmware);
  // Starts args[0] with `args`; "{dir}" in an argument becomes the private folder.
  explicit ChildProcess(std::vector<std::string> args);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  const std::string& SocketPath() const { return m_socket; }  // QEMU's GDB stub
  pid_t Pid() const { return m_pid; }
  // Whether the child still runs (reaps it when it has ended).
  bool Running();

 private:
  void Spawn(std::vector<std::string> args);

  std::string m_dir;
  std::string m_socket;
  pid_t m_pid = -1;
};

// Whether `program` (a name looked up in PATH, or a path) can be executed.
bool ProgramAvailable(const std::string& program);

}  // namespace sim
