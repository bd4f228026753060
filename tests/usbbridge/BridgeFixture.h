// An emulator and the USB bridge in a private folder, and the programs run
// against them: through the real transports under the umockdev preload
// (VOLINK_SIM_DIR unset), or through the emulator backend for comparison.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace transporttest {

using Env = std::map<std::string, std::string>;

// A program with standard input from a pipe and standard output and error
// into one pipe.
class Proc {
 public:
  // dropDac: the program runs without the power to ignore file modes, as
  // an ordinary user does (the tests may run as root).
  Proc(const std::vector<std::string>& argv, const Env& env, bool dropDac = false) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
      ::close(in[0]), ::close(in[1]);
      return;
    }
    std::vector<std::string> envText;
    for (auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (auto& e : envText) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      if (dropDac) {
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
      }
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  ~Proc() {
    CloseInput();
    if (m_pid > 0 && !m_reaped) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
  }
  Proc(const Proc&) = delete;
  Proc& operator=(const Proc&) = delete;

  pid_t Pid() const { return m_pid; }
  void Send(const std::string& line) {
    const std::string s = line + "\n";
    if (m_in >= 0 && ::write(m_in, s.data(), s.size()) < 0) CloseInput();
  }
  void CloseInput() {
    if (m_in >= 0) ::close(m_in);
    m_in = -1;
  }
  // The next line, or nothing at the end of output or after timeoutMs.
  std::optional<std::string> ReadLine(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto nl = m_buf.find('\n');
      if (nl != std::string::npos) {
        std::string line = m_buf.substr(0, nl);
        m_buf.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      struct pollfd p {m_out, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return std::nullopt;
      char b[4096];
      const ssize_t n = ::read(m_out, b, sizeof b);
      if (n <= 0) return std::nullopt;
      m_buf.append(b, static_cast<size_t>(n));
    }
  }
  // Everything until the end of output (killed after timeoutMs), the exit
  // status and the CPU time the program used.
  std::string ReadAll(int timeoutMs, int* status, double* cpuSeconds = nullptr) {
    std::string all;
    while (auto line = ReadLine(timeoutMs)) all += *line + "\n";
    all += m_buf;
    m_buf.clear();
    ::kill(m_pid, SIGKILL);  // a no-op for a program that ended
    int st = 0;
    struct rusage u {};
    ::wait4(m_pid, &st, 0, &u);
    m_reaped = true;
    *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (cpuSeconds)
      *cpuSeconds = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                    static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    return all;
  }

 private:
  pid_t m_pid = -1;
  int m_in = -1, m_out = -1;
  bool m_reaped = false;
  std::string m_buf;
};

struct Result {
  int status = -1;
  std::string out;
  double cpu = 0;
};

// The three interface kinds, each on its own adapter.
constexpr const char* kConfig = R"({ "adapters": [
  { "name": "h64", "generation": 1, "pid": "0x5202", "adapter_id": "0x10000064",
    "serial": "H64S", "location": "1-3",
    "interfaces": [ { "kind": "hid", "interface": 3, "size": 64 } ] },
  { "name": "h1k", "generation": 1, "pid": "0x5201", "adapter_id": "0x10001024",
    "serial": "H1KS", "location": "2-1.4",
    "interfaces": [ { "kind": "hid", "interface": 3, "size": 1024 } ] },
  { "name": "b512", "generation": 2, "pid": "0x200A", "adapter_id": "0x10000512",
    "serial": "B512S", "location": "1-5.1.2",
    "interfaces": [ { "kind": "bulk", "interface": 3, "size": 512 } ] } ] })";

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }
  void TearDown() override { Stop(); }

  void Start(const std::vector<std::string>& denied) {
    char tmpl[] = "/tmp/gadrel-usbbridge-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    std::filesystem::create_directories(m_dir / "sim");
    std::filesystem::create_directories(m_dir / "xdg");
    std::filesystem::permissions(m_dir / "xdg", std::filesystem::perms::owner_all);
    std::ofstream(m_dir / "config.json") << kConfig;
    m_sim = std::make_unique<Proc>(
        std::vector<std::string>{VOLINK_SIM_EXE, "--config", (m_dir / "config.json").string()},
        SimEnv());
    for (int i = 0; i < 500 && Published() < 3; ++i) ::usleep(10000);
    ASSERT_EQ(Published(), 3u) << "the emulator did not publish its interfaces";
    std::vector<std::string> args{USB_BRIDGE_EXE, (m_dir / "sim").string()};
    for (const auto& a : denied) args.insert(args.end(), {"--deny", a});
    m_bridge = std::make_unique<Proc>(args, BaseEnv());
    auto root = m_bridge->ReadLine(10000);
    ASSERT_TRUE(root && root->rfind("root ", 0) == 0) << root.value_or("(nothing)");
    m_root = root->substr(5);
    while (m_nodes.size() < 3) ASSERT_TRUE(WaitAdded());
  }

  void Stop() {
    m_bridge.reset();  // the end of its input ends it; it removes the testbed
    if (m_sim) {
      ::kill(m_sim->Pid(), SIGTERM);
      int status = 0;
      m_sim->ReadAll(10000, &status);
      m_sim.reset();
    }
    std::error_code ec;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
  }

  // Waits for the bridge to mirror one plug; records the device's nodes.
  bool WaitAdded(std::string* location = nullptr) {
    for (;;) {
      auto line = m_bridge->ReadLine(10000);
      if (!line) return false;
      std::istringstream in(*line);
      std::string what, loc, node;
      in >> what >> loc;
      if (what != "added") continue;
      m_nodes[loc].clear();
      while (in >> node) m_nodes[loc].push_back(node);
      if (location) *location = loc;
      return true;
    }
  }
  bool WaitRemoved(const std::string& location) {
    for (;;) {
      auto line = m_bridge->ReadLine(10000);
      if (!line) return false;
      if (*line == "removed " + location) return true;
    }
  }

  size_t Published() const {
    size_t n = 0;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(m_dir / "sim", ec))
      n += e.path().extension() == ".json";
    return n;
  }

  static Env BaseEnv() {
    Env env;
    for (char** e = environ; *e; ++e) {
      const char* eq = std::strchr(*e, '=');
      if (eq) env[std::string(static_cast<const char*>(*e), eq)] = eq + 1;
    }
    for (const char* k : {"VOLINK_SIM_DIR", "LD_PRELOAD", "UMOCKDEV_DIR", "GADREL_USB_REAL"})
      env.erase(k);
    env["QT_QPA_PLATFORM"] = "offscreen";
    return env;
  }
  Env SimEnv() const {
    Env env = BaseEnv();
    env["VOLINK_SIM_DIR"] = (m_dir / "sim").string();
    env["XDG_RUNTIME_DIR"] = (m_dir / "xdg").string();
    return env;
  }
  // The emulator backend only.
  Env EmulatorEnv() const {
    Env env = SimEnv();
    env["GADREL_USB_REAL"] = "0";
    return env;
  }
  // The real transports, under the preload that shows them the testbed.
  Env RealEnv() const {
    Env env = BaseEnv();
    env["LD_PRELOAD"] = "libumockdev-preload.so.0";
    env["UMOCKDEV_DIR"] = m_root;
    // Named objects live there: every /dev path goes to the testbed.
    env["XDG_RUNTIME_DIR"] = (m_dir / "xdg").string();
    // A sanitized build wants its runtime first in the preload list.
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0:detect_leaks=0";
    return env;
  }

  Result Run(const std::vector<std::string>& argv, const Env& env, bool dropDac = false) {
    Proc p(argv, env, dropDac);
    Result r;
    r.out = p.ReadAll(60000, &r.status, &r.cpu);
    return r;
  }
  std::string Ctl(const std::string& command) {
    std::vector<std::string> argv{VOLINK_SIM_EXE, "ctl"};
    std::istringstream in(command);
    for (std::string w; in >> w;) argv.push_back(w);
    return Run(argv, SimEnv()).out;
  }
  std::unique_ptr<Proc> Child(const Env& env) {
    return std::make_unique<Proc>(std::vector<std::string>{TRANSPORT_CHILD}, env);
  }
  static std::string Ask(Proc& p, const std::string& line, int timeoutMs = 60000) {
    p.Send(line);
    return p.ReadLine(timeoutMs).value_or("(no answer)");
  }

  std::filesystem::path m_dir;
  std::string m_root;
  std::map<std::string, std::vector<std::string>> m_nodes;  // location -> nodes
  std::unique_ptr<Proc> m_sim, m_bridge;
};

}  // namespace transporttest
