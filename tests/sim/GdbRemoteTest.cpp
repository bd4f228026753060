// The GDB remote client against a scripted stub: decoding, and stubs that
// break the framing, flood or fall silent (bounded waits and memory).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "sim/GdbRemote.h"

namespace {

using namespace std::chrono_literals;

std::string Framed(const std::string& body) {
  uint8_t sum = 0;
  for (char c : body) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  char tail[4];
  std::snprintf(tail, sizeof tail, "#%02x", sum);
  return "$" + body + tail;
}

// Answers the no-ack request with OK, then every further packet with `reply`
// (sent as raw bytes), until the client goes.
class Stub {
 public:
  explicit Stub(std::string reply) : m_reply(std::move(reply)) {
    char tmpl[] = "/tmp/gdbstub-test-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    m_dir = tmpl;
    m_path = m_dir + "/s";
    m_listen = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, m_path.c_str(), sizeof a.sun_path - 1);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) || ::listen(m_listen, 1))
      throw std::runtime_error("bind");
    m_thread = std::thread([this] { Serve(); });
  }
  ~Stub() {
    ::shutdown(m_listen, SHUT_RDWR);
    if (m_conn >= 0) ::shutdown(m_conn, SHUT_RDWR);
    m_thread.join();
    ::close(m_listen);
    if (m_conn >= 0) ::close(m_conn);
    std::filesystem::remove_all(m_dir);
  }
  const std::string& Path() const { return m_path; }

 private:
  void Serve() {
    m_conn = ::accept(m_listen, nullptr, nullptr);
    if (m_conn < 0) return;
    std::string in;
    bool first = true;
    char buf[512];
    for (;;) {
      const ssize_t n = ::recv(m_conn, buf, sizeof buf, 0);
      if (n <= 0) return;
      in.append(buf, static_cast<size_t>(n));
      size_t hash;
      while ((hash = in.find('#')) != std::string::npos && in.size() >= hash + 3) {
        in.erase(0, hash + 3);
        const std::string out = first ? "+" + Framed("OK") : m_reply;
        first = false;
        if (!out.empty() && ::send(m_conn, out.data(), out.size(), MSG_NOSIGNAL) < 0) return;
      }
    }
  }

  std::string m_reply, m_dir, m_path;
  int m_listen = -1, m_conn = -1;
  std::thread m_thread;
};

TEST(GdbRemote, DecodesEscapesAndRunLengths) {
  // "}" escapes the next byte (xor 0x20); "*" repeats the previous character
  // (count - 29 times): "0* " = "0" + 3 more zeros.
  Stub stub(Framed("a}\x03" "0* z"));
  sim::GdbRemote gdb;
  ASSERT_TRUE(gdb.Connect(stub.Path(), 2s));
  const auto r = gdb.Transact("m0,4", 2s);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, std::string("a#0000z"));
  EXPECT_TRUE(gdb.Alive());
}

TEST(GdbRemote, HostileStubsBreakTheClientInBoundedTime) {
  const struct {
    const char* what;
    std::string reply;
  } cases[] = {
      {"silent", ""},
      {"bad checksum only", "$OK#00"},
      {"endless packet", "$" + std::string(sim::GdbRemote::kMaxPacket * 3, 'x')},
      {"run length before any character", Framed("*x")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stub stub(c.reply);
    sim::GdbRemote gdb;
    ASSERT_TRUE(gdb.Connect(stub.Path(), 2s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(gdb.Transact("g", 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(gdb.Alive());
    EXPECT_FALSE(gdb.Transact("g", 300ms));  // stays broken, does not wait again
  }
}

TEST(GdbRemote, NoStubMeansNoConnection) {
  sim::GdbRemote gdb;
  EXPECT_FALSE(gdb.Connect("/nonexistent/gdb.sock", 100ms));
  EXPECT_FALSE(gdb.Alive());
}

}  // namespace
