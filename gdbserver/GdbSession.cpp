#include "gdbserver/GdbSession.h"

#include <cstdio>

#include "ice/CICEException.h"

namespace gdb {
namespace {

constexpr int kSigInt = 2, kSigTrap = 5;
constexpr int kMaxResends = 3;

// "ADDR,LEN" (hex) at the start of `text`; the rest after it in `rest`.
bool ParseAddressLength(std::string_view text, uint32_t& address, uint32_t& length,
                        std::string_view* rest = nullptr) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return false;
  size_t end = text.find_first_of(":;", comma + 1);
  if (end == std::string_view::npos) end = text.size();
  if (!ParseHex32(text.substr(0, comma), address) ||
      !ParseHex32(text.substr(comma + 1, end - comma - 1), length))
    return false;
  if (rest) *rest = end < text.size() ? text.substr(end + 1) : std::string_view();
  return rest || end == text.size();
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string Hex32(uint32_t v) {
  char b[12];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

}  // namespace

GdbSession::GdbSession(CICE& ice, IGdbSink& sink) : m_target(ice), m_sink(sink) {}

GdbSession::~GdbSession() = default;

void GdbSession::Log(const std::string& text) {
  if (m_log) m_log(text);
}

void GdbSession::Send(std::string_view payload) {
  const std::string framed = Frame(payload);
  if (m_bAck) {
    m_lastPacket = framed;
    m_nResends = 0;
  }
  m_sink.Write(framed);
}

void GdbSession::Console(const std::string& text) {
  // Console output as 'O' packets, each within the packet size.
  constexpr size_t kPiece = (kPacketSize - 1) / 2;
  for (size_t at = 0; at < text.size(); at += kPiece) Send("O" + HexEncode(text.substr(at, kPiece)));
}

void GdbSession::Feed(std::string_view bytes) {
  std::vector<PacketReader::Event> events;
  m_reader.Feed(bytes, events);
  for (PacketReader::Event& e : events) {
    if (m_bFinished) return;
    switch (e.kind) {
      case PacketReader::Event::Packet:
        if (m_bAck) m_sink.Write("+");
        HandlePacket(e.payload);
        break;
      case PacketReader::Event::BadChecksum:
        if (m_bAck) m_sink.Write("-");
        break;
      case PacketReader::Event::TooLong:
        if (m_bAck) m_sink.Write("+");
        Send("E01");
        break;
      case PacketReader::Event::Interrupt:
        if (m_bRunning) {
          try {
            m_target.Halt();
            m_bRunning = false;
            Send(StopReply(kSigInt));
          } catch (const CICEException& x) {
            Log(x.GetMessage());
          }
        }
        break;
      case PacketReader::Event::Ack:
        m_lastPacket.clear();
        break;
      case PacketReader::Event::Nack:
        if (m_bAck && !m_lastPacket.empty() && m_nResends++ < kMaxResends) m_sink.Write(m_lastPacket);
        break;
    }
  }
}

void GdbSession::HandlePacket(const std::string& payload) {
  bool reply = true;
  std::string answer;
  try {
    answer = Dispatch(payload, reply);
  } catch (const CICEException& x) {
    Log(x.GetMessage());
    answer = "E01";
    reply = true;
  }
  if (reply && !m_bFinished) Send(answer);
}

std::string GdbSession::StopReply(int signal) {
  char b[8];
  std::snprintf(b, sizeof b, "T%02x", signal);
  std::string out = b;
  if (signal == kSigTrap) {
    try {
      if (const auto hit = m_target.TriggeredWatchpoint()) {
        const char* name = hit->kind == WatchKind::Read ? "rwatch" : hit->kind == WatchKind::Access ? "awatch" : "watch";
        out += std::string(name) + ":" + Hex32(hit->address) + ";";
      }
    } catch (const CICEException& x) {
      Log(x.GetMessage());
    }
  }
  return out + "thread:1;";
}

bool GdbSession::Poll() {
  if (!m_bRunning) return false;
  try {
    if (!m_target.IsStopped(nullptr)) return true;
    std::string console;
    if (m_target.ServeSemihosting(console)) {
      Console(console);
      if (!m_bStepping) {
        m_target.Resume();
        return true;
      }
    }
  } catch (const CICEException& x) {
    Log(x.GetMessage());
    // The adapter failed while the core ran: tell gdb it stopped, so the
    // user gets the prompt back and sees the error on the next command.
  }
  m_bRunning = m_bStepping = false;
  Send(StopReply(kSigTrap));
  return false;
}

void GdbSession::Disconnected() {
  try {
    m_target.RemoveAll();
  } catch (const CICEException& x) {
    Log(x.GetMessage());
  }
  m_bRunning = false;
  m_bFinished = true;
}

std::string GdbSession::Resume(bool step, std::string_view address, bool& reply) {
  if (!address.empty()) {
    uint32_t pc = 0;
    if (!ParseHex32(address, pc)) return "E01";
    m_target.WriteRegister(15, HexLE(pc, 4));
  }
  if (step) {
    std::string console;
    if (m_target.ServeSemihosting(console)) {
      Console(console);
      return StopReply(kSigTrap);
    }
    if (m_target.Step()) return StopReply(kSigTrap);
    m_bRunning = m_bStepping = true;  // still going: Poll() reports the stop
    reply = false;
    return {};
  }
  m_target.Resume();
  m_bRunning = true;
  m_bStepping = false;
  reply = false;
  return {};
}

std::string GdbSession::VCont(const std::string& payload, bool& reply) {
  if (payload == "vCont?") return "vCont;c;C;s;S;t";
  // vCont;ACTION[:thread][;ACTION[:thread]]...: a single core takes the first.
  std::string_view action = std::string_view(payload).substr(6);
  action = action.substr(0, action.find_first_of(":;"));
  if (action.empty()) return "E01";
  switch (action[0]) {
    case 'c':
    case 'C': return Resume(false, {}, reply);
    case 's':
    case 'S': return Resume(true, {}, reply);
    case 't':
      if (m_bRunning) m_bRunning = false;
      m_target.Halt();
      return StopReply(0);
    default: return "E01";
  }
}

std::string GdbSession::Dispatch(const std::string& payload, bool& reply) {
  if (payload.empty()) return {};
  const std::string_view args = std::string_view(payload).substr(1);
  if (payload == "QStartNoAckMode") {
    Send("OK");  // the last packet acknowledged
    m_bAck = false;
    m_lastPacket.clear();
    reply = false;
    return {};
  }
  switch (payload[0]) {
    case 'q':
    case 'Q': return Query(payload);
    case '?': {
      // A debugger finds the core stopped: halt it when it runs.
      m_bRunning = m_bStepping = false;
      if (m_target.IsStopped(nullptr)) return StopReply(kSigTrap);
      m_target.Halt();
      return StopReply(kSigInt);
    }
    case '!': return "OK";
    case 'H': return "OK";
    case 'T': return "OK";
    case 'g': return m_target.ReadAllRegisters();
    case 'G': return m_target.WriteAllRegisters(args) ? "OK" : "E01";
    case 'p': {
      uint32_t n = 0;
      if (!ParseHex32(args, n)) return "E01";
      const std::string v = m_target.ReadRegister(n);
      return v.empty() ? "E01" : v;
    }
    case 'P': {
      const size_t eq = args.find('=');
      uint32_t n = 0;
      if (eq == std::string_view::npos || !ParseHex32(args.substr(0, eq), n)) return "E01";
      return m_target.WriteRegister(n, args.substr(eq + 1)) ? "OK" : "E01";
    }
    case 'm':
    case 'M':
    case 'X': return Memory(payload);
    case 'c': return Resume(false, args, reply);
    case 's': return Resume(true, args, reply);
    case 'C':
    case 'S': {  // the signal is meaningless to a core; an address may follow
      const size_t semi = args.find(';');
      return Resume(payload[0] == 'S', semi == std::string_view::npos ? std::string_view() : args.substr(semi + 1),
                    reply);
    }
    case 'Z':
    case 'z': return Breakpoint(payload);
    case 'D': {
      m_target.RemoveAll();
      if (m_target.IsStopped(nullptr)) m_target.Resume();
      m_bRunning = false;
      Send("OK");
      m_bFinished = true;
      reply = false;
      return {};
    }
    case 'k': {
      m_target.RemoveAll();
      m_target.Reset(false);
      m_bRunning = false;
      m_bFinished = true;
      reply = false;
      return {};
    }
    case 'v':
      if (StartsWith(payload, "vCont")) return VCont(payload, reply);
      if (StartsWith(payload, "vKill")) {
        m_target.RemoveAll();
        m_target.Reset(false);
        return "OK";
      }
      if (StartsWith(payload, "vAttach;")) {
        m_bRunning = false;
        if (!m_target.IsStopped(nullptr)) m_target.Halt();
        return StopReply(kSigTrap);
      }
      return {};
    default: return {};
  }
}

std::string GdbSession::Query(const std::string& payload) {
  if (StartsWith(payload, "qSupported")) {
    char b[96];
    std::snprintf(b, sizeof b, "PacketSize=%zx;qXfer:features:read+;QStartNoAckMode+;vContSupported+",
                  kPacketSize);
    return b;
  }
  if (StartsWith(payload, "qXfer:features:read:")) {
    const std::string_view rest = std::string_view(payload).substr(20);
    const size_t colon = rest.find(':');
    if (colon == std::string_view::npos || rest.substr(0, colon) != "target.xml") return "E00";
    uint32_t offset = 0, length = 0;
    if (!ParseAddressLength(rest.substr(colon + 1), offset, length)) return "E01";
    const std::string& xml = m_target.TargetXml();
    if (offset >= xml.size()) return "l";
    const size_t n = std::min<size_t>({length, xml.size() - offset, kPacketSize / 2});
    const std::string_view piece = std::string_view(xml).substr(offset, n);
    return (offset + n < xml.size() ? "m" : "l") +
           EscapeBinary(std::span(reinterpret_cast<const uint8_t*>(piece.data()), piece.size()));
  }
  if (StartsWith(payload, "qRcmd,")) {
    std::vector<uint8_t> raw;
    if (!HexDecode(std::string_view(payload).substr(6), raw)) return "E01";
    return Monitor(std::string(raw.begin(), raw.end()));
  }
  if (payload == "qC") return "QC1";
  if (payload == "qfThreadInfo") return "m1";
  if (payload == "qsThreadInfo") return "l";
  if (payload == "qAttached" || StartsWith(payload, "qAttached:")) return "1";
  if (StartsWith(payload, "qSymbol")) return "OK";
  return {};
}

std::string GdbSession::Monitor(const std::string& command) {
  std::string cmd = command;
  while (!cmd.empty() && (cmd.back() == ' ' || cmd.back() == '\n')) cmd.pop_back();
  try {
    if (cmd == "reset halt") {
      m_bRunning = false;
      Console("halted at reset, pc 0x" + Hex32(m_target.Reset(true)) + "\n");
      return "OK";
    }
    if (cmd == "reset") {
      m_bRunning = false;
      m_target.Reset(false);
      Console("reset; the core runs\n");
      return "OK";
    }
    if (cmd == "halt") {
      m_bRunning = false;
      Console("halted at pc 0x" + Hex32(m_target.Halt()) + "\n");
      return "OK";
    }
    if (cmd == "resume") {
      m_target.Resume();
      Console("the core runs\n");
      return "OK";
    }
  } catch (const CICEException& x) {
    Console(x.GetMessage() + std::string("\n"));
    return "E01";
  }
  Console("monitor commands: reset, reset halt, halt, resume\n");
  return "OK";
}

std::string GdbSession::Memory(const std::string& payload) {
  uint32_t address = 0, length = 0;
  std::string_view data;
  const std::string_view args = std::string_view(payload).substr(1);
  if (payload[0] == 'm') {
    if (!ParseAddressLength(args, address, length) || length > kPacketSize / 2) return "E01";
    const std::vector<uint8_t> bytes = m_target.ReadMemory(address, length);
    return bytes.empty() && length ? "E01" : HexEncode(bytes);
  }
  if (!ParseAddressLength(args, address, length, &data)) return "E01";
  std::vector<uint8_t> bytes;
  const bool ok = payload[0] == 'M' ? HexDecode(data, bytes) : UnescapeBinary(data, bytes);
  if (!ok || bytes.size() != length) return "E01";
  m_target.WriteMemory(address, bytes);
  return "OK";
}

std::string GdbSession::Breakpoint(const std::string& payload) {
  // Z/z TYPE,ADDR,KIND
  if (payload.size() < 4 || payload[2] != ',') return {};
  const int type = payload[1] - '0';
  if (type < 0 || type > 4) return {};
  uint32_t address = 0, kind = 0;
  std::string_view rest;
  if (!ParseAddressLength(std::string_view(payload).substr(3), address, kind, &rest)) return "E01";
  const bool insert = payload[0] == 'Z';
  bool ok = false;
  if (type <= 1)
    ok = insert ? m_target.InsertBreakpoint(type, address) : m_target.RemoveBreakpoint(type, address);
  else
    ok = insert ? m_target.InsertWatchpoint(static_cast<WatchKind>(type), address, kind)
                : m_target.RemoveWatchpoint(static_cast<WatchKind>(type), address, kind);
  return ok ? "OK" : "E01";
}

}  // namespace gdb
