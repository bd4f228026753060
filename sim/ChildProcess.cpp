#include "sim/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace sim {

namespace {

std::string MakePrivateFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "volink-child.XXXXXX").string();
  if (!::mkdtemp(templ.data())) throw std::runtime_error("cannot make a folder for a simulator");
  return templ;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::string& machine, const std::string& firmware) {
  m_dir = MakePrivateFolder();
  m_socket = m_dir + "/gdb.sock";
  Spawn({program, "-M", machine, "-kernel", firmware, "-S", "-gdb", "unix:" + m_socket + ",server,nowait",
         "-nographic", "-monitor", "none", "-serial", "none", "-nodefaults", "-net", "none"});
}

ChildProcess::ChildProcess(std::vector<std::string> args) {
  m_dir = MakePrivateFolder();
  for (auto& a : args)
    for (size_t at; (at = a.find("{dir}")) != std::string::npos;) a.replace(at, 5, m_dir);
  Spawn(std::move(args));
}

void ChildProcess::Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  m_pid = ::fork();
  if (m_pid < 0) {
    std::filesystem::remove_all(m_dir);
    throw std::runtime_error("cannot start " + args[0]);
  }
  if (m_pid == 0) {
    // The child: dies with the emulator, takes default signal handling,
    // keeps stdin/stdout off the emulator's terminal.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

bool ChildProcess::Running() {
  if (m_pid <= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
  if (r == m_pid) {
    m_pid = -1;
    return false;
  }
  return true;
}

bool ProgramAvailable(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    const size_t end = std::min(p.find(':', start), p.size());
    const std::string dir = p.substr(start, end - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace sim
