// A qemu-system-arm child process: started halted with its GDB stub on a
// Unix socket in a private temporary folder, killed and reaped when the
// object goes (and by the kernel when the emulator dies first).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sim {

class QemuProcess {
 public:
  // Starts `program` for `machine` with the firmware ELF; throws
  // std::runtime_error when the folder or the process cannot be made.
  QemuProcess(const std::string& program, const std::string& machine, const std::string& firmware);
  QemuProcess(const QemuProcess&) = delete;
  QemuProcess& operator=(const QemuProcess&) = delete;
  ~QemuProcess();

  const std::string& SocketPath() const { return m_socket; }
  pid_t Pid() const { return m_pid; }
  // Whether the child still runs (reaps it when it has ended).
  bool Running();

 private:
  std::string m_dir;
  std::string m_socket;
  pid_t m_pid = -1;
};

// Whether `program` (a name looked up in PATH, or a path) can be executed.
bool ProgramAvailable(const std::string& program);

}  // namespace sim
