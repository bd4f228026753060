// A child process started with fork/exec, its stdin and stdout as pipes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || (m_pid = ::fork()) < 0) {
      for (int fd : {in[0], in[1], out[0], out[1]}) {
        if (fd >= 0) ::close(fd);
      }
      m_pid = -1;
      return;
    }
    if (m_pid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  ~ChildProcess() {
    CloseInput();
    if (m_out >= 0) ::close(m_out);
    if (m_pid > 0 && !m_bReaped) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }

  // One line of the child's output without the newline; empty at its end.
  std::string ReadLine() {
    std::string line;
    char c;
    while (::read(m_out, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  void Send(const std::string& s) {
    if (::write(m_in, s.data(), s.size()) < 0) return;
  }
  void CloseInput() {
    if (m_in >= 0) ::close(m_in);
    m_in = -1;
  }
  // Exit status, or 128 + signal; -1 when the child never started.
  int Wait() {
    if (m_pid <= 0) return -1;  // waitpid(-1) would reap any child
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_bReaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Kill() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL);
  }

 private:
  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  bool m_bReaped = false;
};
