// Peers that try to make the emulator balloon, spin or fight over a folder:
// a client that never reads, too many connections, no descriptors left,
// endless control lines, a second emulator on the same folder.
#include <fcntl.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "SimClient.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;

const Bytes kHandshake(61, 0xFF);

class Hostile : public SimFixture {
 protected:
  std::map<std::string, uint64_t> Stats() { return ParseStats(Ctl("stats")); }
  // Polls `done` for up to 10 s.
  template <class F>
  static bool Eventually(F done) {
    for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(10ms))
      if (done()) return true;
    return false;
  }
  int ConnectControl() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, (m_dir / sim::kControlSocketName).c_str(), sizeof(addr.sun_path) - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
  }
  // What a control connection receives until it closes (or 5 s pass).
  static std::string ReadUntilClosed(int fd) {
    std::string text;
    char buf[256];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 5000) > 0) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return text;
      text.append(buf, static_cast<size_t>(n));
    }
    return text + "(still open)";
  }
};

// While no descriptor can be created: the soft limit lowered and every free
// number below it taken.
class DescriptorsExhausted {
 public:
  DescriptorsExhausted() {
    ::getrlimit(RLIMIT_NOFILE, &m_old);
    rlimit low = m_old;
    low.rlim_cur = std::min<rlim_t>(m_old.rlim_cur, 256);
    ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) m_fds.push_back(fd);
  }
  ~DescriptorsExhausted() {
    for (int fd : m_fds) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &m_old);
  }
  DescriptorsExhausted(const DescriptorsExhausted&) = delete;
  DescriptorsExhausted& operator=(const DescriptorsExhausted&) = delete;

 private:
  rlimit m_old{};
  std::vector<int> m_fds;
};

TEST_F(Hostile, PeerThatDoesNotReadIsNotReadEitherAndCostsNoWakeUps) {
  StartDemo();
  Conn stalled = Open("demo-hid-if3");
  ASSERT_EQ(stalled.OpenByte(), 1);
  // Handshakes (one reply each) until the emulator takes no more.
  std::vector<uint8_t> sent;
  constexpr size_t kTries = 20000;
  while (sent.size() < kTries) {
    uint8_t seq = 0;
    if (stalled.TrySend(kHandshake, &seq))
      sent.push_back(seq);
    else if (!stalled.WaitWritable(1000))
      break;
  }
  auto stats = Stats();
  EXPECT_LE(stats["queued"], sim::kMaxQueuedReplies);
  EXPECT_LE(stats["peak-queued"], sim::kMaxQueuedReplies);

  // Replies that cannot leave do not keep the loop turning.
  const uint64_t wakeups = stats["wakeups"];
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(Stats()["wakeups"] - wakeups, 20u);  // the two control calls cost a few

  // Others are served meanwhile, and the stalled peer loses nothing.
  Conn other = Open("demo-hid-if3");
  ASSERT_EQ(other.OpenByte(), 1);
  EXPECT_EQ(WordAt(other.Exchange(kHandshake).payload, 0), 7973u);
  for (size_t i = 0; i < sent.size(); ++i) {
    auto p = stalled.ReceivePacket(5000);
    ASSERT_TRUE(p) << "reply " << i << " of " << sent.size();
    ASSERT_EQ(p->seq, sent[i]);
  }
  EXPECT_GT(TakeViolations(), 0u);  // requests sent before their replies were read
}

TEST_F(Hostile, ConnectionsAreCappedPerInterfaceAndOnTheControlSocket) {
  StartDemo();
  std::vector<Conn> held;
  for (size_t i = 0; i < sim::kMaxConnectionsPerInterface; ++i) {
    held.push_back(Open("demo-hid-if3"));
    ASSERT_EQ(held.back().OpenByte(), 1) << i;
  }
  Conn over = Open("demo-hid-if3");
  EXPECT_EQ(over.OpenByte(), 0);
  auto closed = over.Receive(1000);
  ASSERT_TRUE(closed.has_value());
  EXPECT_TRUE(closed->empty());
  EXPECT_EQ(Open("demo-bulk-if0", 1, 512).OpenByte(), 1);  // another interface

  held.pop_back();
  ASSERT_TRUE(Eventually([&] { return Stats()["connections"] == sim::kMaxConnectionsPerInterface; }));
  EXPECT_EQ(Open("demo-hid-if3").OpenByte(), 1);

  std::vector<sim::Fd> idle;
  for (size_t i = 0; i < sim::kMaxControlConnections; ++i) idle.emplace_back(ConnectControl());
  // Connections are taken in the order they came: the next is one too many.
  EXPECT_THROW(Ctl("list"), std::runtime_error);
  idle.clear();
  EXPECT_TRUE(Eventually([&] {
    try {
      return sim::LastLine(Ctl("list")) == "ok";
    } catch (const std::runtime_error&) {
      return false;
    }
  }));
}

TEST_F(Hostile, OutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
  StartDemo();
  Conn existing = Open("demo-hid-if3");
  ASSERT_EQ(existing.OpenByte(), 1);
  // One exchange before the descriptors run out: the sanitizers' first look
  // at a type needs a descriptor of its own and would otherwise report the
  // emulator's first virtual call as a bad object.
  ASSERT_EQ(WordAt(existing.Exchange(kHandshake).payload, 0), 7973u);
  sim::Fd late(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));  // made while there are descriptors
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, (m_dir / "demo-hid-if3.sock").c_str(), sizeof(addr.sun_path) - 1);

  const auto start = std::chrono::steady_clock::now();
  {
    DescriptorsExhausted exhausted;
    ASSERT_EQ(::connect(late.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);  // waits in the backlog
    ASSERT_TRUE(Eventually([&] { return m_server->AcceptFailures() > 0; }));
    std::this_thread::sleep_for(500ms);
    // The connections it has are still served.
    EXPECT_EQ(WordAt(existing.Exchange(kHandshake).payload, 0), 7973u);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const uint64_t failures = m_server->AcceptFailures();
  // Each failure pauses accepting for kAcceptBackoff: a spinning loop fails
  // thousands of times in the same span.
  EXPECT_LE(failures, 2 + static_cast<uint64_t>(elapsed / sim::kAcceptBackoff)) << failures;

  // With descriptors back, the waiting connection is taken.
  pollfd p{late.Get(), POLLIN, 0};
  ASSERT_GT(::poll(&p, 1, 10000), 0);
  uint8_t openByte = 0xEE;
  EXPECT_EQ(::recv(late.Get(), &openByte, 1, 0), 1);
  EXPECT_EQ(openByte, 1);
}

TEST_F(Hostile, ControlLineIsCappedAndTheChannelKeepsWorking) {
  StartDemo();
  sim::Fd fd(ConnectControl());
  const std::string endless(4 * sim::kMaxControlLine, 'x');
  ASSERT_EQ(::send(fd.Get(), endless.data(), endless.size(), MSG_NOSIGNAL), static_cast<ssize_t>(endless.size()));
  EXPECT_EQ(ReadUntilClosed(fd.Get()).rfind("error: control line longer than", 0), 0u);

  // A line at the cap is still a command.
  sim::Fd atCap(ConnectControl());
  const std::string line = "list" + std::string(sim::kMaxControlLine - 4, ' ') + "\n";
  ASSERT_EQ(::send(atCap.Get(), line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
  ::shutdown(atCap.Get(), SHUT_WR);
  EXPECT_EQ(sim::LastLine(ReadUntilClosed(atCap.Get())), "ok");
}

TEST_F(Hostile, SecondEmulatorOnAServedFolderIsRefusedAndTouchesNothing) {
  StartDemo();
  try {
    sim::Server second(sim::DemoConfig(), m_dir);
    ADD_FAILURE() << "a second emulator started on a served folder";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("another volink-sim"), std::string::npos) << e.what();
  }
  ASSERT_TRUE(Published("demo-hid-if3"));
  ASSERT_TRUE(Published("demo-bulk-if0"));
  Conn c = Open("demo-hid-if3");
  ASSERT_EQ(c.OpenByte(), 1);
  EXPECT_EQ(WordAt(c.Exchange(kHandshake).payload, 0), 7973u);
  EXPECT_EQ(sim::LastLine(Ctl("list")), "ok");

  // Once it has stopped, the folder is free again.
  m_server.reset();
  m_server = std::make_unique<sim::Server>(sim::DemoConfig(), m_dir);
  m_server->Start();
  EXPECT_TRUE(Published("demo-hid-if3"));
}

}  // namespace
}  // namespace simtest
