// The adapter's own pins (bridge modes), serial-wire output and the trace
// macrocell commands.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/Firmware.h"
#include "usb/PacketFraming.h"

namespace sim {
namespace {

constexpr uint32_t kSwoClock = 72000000;
constexpr double kSwoBytesPerSecond = 2000.0;

}  // namespace

Reply Firmware::Bridge(uint32_t code, const Ctx& c) {
  if (code == 0x40) {
    m_bridgeMode = c.Arg(0);
    return Echo(code, 4);
  }
  auto& rec = m_bridgeRecords[m_bridgeMode & 0xF];
  if (code == 0x42) {
    if (c.req.size() >= 20) std::memcpy(rec.data(), c.req.data() + 8, 12);
    Reply r;
    r.payload.assign(4, 0);
    r.payload[0] = 0x42;
    return r;
  }
  // 0x41: the 40-byte result record of the current mode.
  Reply r;
  r.payload.assign(40, 0);
  const double t = std::chrono::duration<double>(SimClock::now().time_since_epoch()).count();
  switch (m_bridgeMode) {
    case 6: {  // analog scan: one 12-bit value a word
      uint32_t count = framing::GetLE32(rec.data());
      count = std::clamp<uint32_t>(count, 1, 10);
      for (uint32_t i = 0; i < count; ++i) {
        const double v = 2048.0 + 1500.0 * std::sin(t + i * 0.7);
        framing::PutLE32(r.payload.data() + 4 * i, static_cast<uint32_t>(v) & 0xFFF);
      }
      break;
    }
    case 7:  // capture: byte 0 bit 0 clear = valid, period in us, high and low time in us
      framing::PutLE32(r.payload.data() + 4, 1000);
      framing::PutLE16(r.payload.data() + 8, 250);
      framing::PutLE16(r.payload.data() + 10, 750);
      break;
    case 9: r.payload[0] = static_cast<uint8_t>(m_bridgeInputs[0]); break;
    case 11: r.payload[0] = static_cast<uint8_t>(m_bridgeInputs[1]); break;
    default: std::memcpy(r.payload.data(), rec.data(), rec.size()); break;
  }
  return r;
}

Reply Firmware::Swo(uint32_t code, const Ctx& c) {
  const uint8_t byteArg = c.req.size() > 4 ? c.req[4] : 0;
  auto status = [&]() -> uint8_t {
    if (m_swoMode == 0 || !m_swoTransport) return 0;
    return m_swoControl ? 1 : 2;  // active or paused
  };
  // Target output: ITM stimulus port 0 packets carrying a line of text.
  auto produce = [&]() {
    const auto now = SimClock::now();
    if (status() != 1) {
      m_swoSince = now;
      return;
    }
    const double secs = std::chrono::duration<double>(now - m_swoSince).count();
    size_t want = static_cast<size_t>(secs * kSwoBytesPerSecond);
    if (want == 0) return;
    m_swoSince = now;
    while (want > 0 && m_swoPending.size() < 4096) {
      const std::string line = "tick " + std::to_string(m_swoCounter++) + "\n";
      for (char ch : line) {
        m_swoPending.push_back(0x01);
        m_swoPending.push_back(static_cast<uint8_t>(ch));
      }
      want = want > 2 * line.size() ? want - 2 * line.size() : 0;
    }
  };
  switch (code) {
    case 0x43: m_swoTransport = byteArg != 0; return Echo(code, 8);
    case 0x44: m_swoMode = byteArg <= 2 ? byteArg : 0; return Echo(code, 8);
    case 0x45: {
      const uint32_t want = c.Arg(0);
      const uint32_t div = want == 0 ? 1 : std::max<uint32_t>(1, (kSwoClock + want / 2) / want);
      return Echo(code, 8, {kSwoClock / div});
    }
    case 0x46:
      m_swoControl = byteArg != 0;
      m_swoSince = SimClock::now();
      return Echo(code, 8);
    case 0x47: {
      produce();
      Reply r = Echo(code, 12);
      r.payload[4] = status();
      framing::PutLE32(r.payload.data() + 5, static_cast<uint32_t>(m_swoPending.size()));
      return r;
    }
    default: {  // 0x48
      produce();
      const size_t cap = c.req.size() >= 6 ? framing::GetLE16(c.req.data() + 4) : 0;
      const size_t n = std::min({cap, m_swoPending.size(), c.payloadSize - 7});
      Reply r = Echo(code, 7 + n);
      r.payload[4] = status();
      framing::PutLE16(r.payload.data() + 5, static_cast<uint16_t>(n));
      std::copy_n(m_swoPending.begin(), n, r.payload.begin() + 7);
      m_swoPending.erase(m_swoPending.begin(), m_swoPending.begin() + static_cast<long>(n));
      return r;
    }
  }
}

Reply Firmware::Etm(uint32_t code, const Ctx& c) {
  if (code == 0xA9) return Echo(code, 12, {m_etmState});
  // Request bytes 4.. are the script's record: byte 0 bit 0 starts the trace.
  const bool start = c.req.size() > 4 && (c.req[4] & 1);
  m_etmState = start ? 1 : 0;
  Reply r = Echo(code, 24);
  r.payload[4] = 1;                                       // accepted
  framing::PutLE32(r.payload.data() + 8, 0x20000000);     // trace buffer
  framing::PutLE32(r.payload.data() + 12, 4096);          // its size
  framing::PutLE32(r.payload.data() + 16, start ? 1 : 0); // records so far
  r.payload[20] = start ? 1 : 0;                          // running
  return r;
}

}  // namespace sim
