#include "sim/Firmware.h"

#include <algorithm>

#include "sim/Commands.h"
#include "sim/Images.h"
#include "usb/PacketFraming.h"

namespace sim {
namespace {

using framing::GetLE32;
using framing::PutLE32;

// Reset and connect modes of MCU_RESET.
enum { kResetAuto, kResetHw, kResetSysReq, kResetVect, kResetRescue, kResetNone, kResetNone2 };
enum { kConnectNormal, kConnectPreReset, kConnectUnderReset, kConnectNone, kConnectDisconnect, kConnectIcp };

void Put(std::vector<uint8_t>& v, size_t off, uint32_t w) {
  if (v.size() < off + 4) v.resize(off + 4);
  PutLE32(v.data() + off, w);
}

}  // namespace

uint32_t Firmware::Ctx::Arg(size_t i) const {
  const size_t off = 4 + 4 * i;
  return off + 4 <= req.size() ? GetLE32(req.data() + off) : 0;
}

Firmware::Firmware(const AdapterConfig& config, AdapterMcu& mcu, Target* target)
    : m_config(config), m_mcu(mcu), m_target(target), m_targetPresent(config.target.present) {
  Boot();
}

void Firmware::Boot() {
  const images::AppInfo info = images::ReadAppInfo(m_mcu.Aprom());
  m_version = info.version;
  m_suffix = info.suffix;
  m_lastError = 0;
  m_connected = false;
  m_streamRemaining = 0;
  m_swoTransport = m_swoControl = false;
  m_etmState = 0;
}

void Firmware::SetTargetPresent(bool present) {
  m_targetPresent = present;
  if (!present) m_connected = false;
}

void Firmware::SetBridgeInput(int channel, int level) { m_bridgeInputs[channel & 1] = level ? 1 : 0; }

Reply Firmware::Echo(uint32_t code, size_t length, std::initializer_list<uint32_t> words) {
  Reply r;
  r.payload.assign(length, 0);
  r.payload[0] = static_cast<uint8_t>(code);
  size_t off = 4;
  for (uint32_t w : words) {
    Put(r.payload, off, w);
    off += 4;
  }
  return r;
}

Reply Firmware::Fail(uint32_t code) {
  m_lastError = code;
  Reply r;
  r.payload.assign(4, 0);
  r.flag = true;
  return r;
}

std::vector<Reply> Firmware::Refuse(std::span<const uint8_t> request, size_t packetSize, uint32_t code) {
  m_streamRemaining = 0;
  // A refused streamed write still takes its continuation packets and answers once, after the last.
  if (request.size() >= 4 && GetLE32(request.data()) == Code(Cmd::StreamWrite)) return StreamWrite(MakeCtx(request, packetSize), code);
  return {Fail(code)};
}

uint32_t Firmware::NeedTarget(bool connected) {
  if (!m_target || !m_targetPresent) return kErrNoDevice;
  if (connected && !m_connected) {  // attach on demand, without a reset
    m_connected = true;
    m_target->SetDebugAttached(true);
  }
  return kErrOk;
}

Firmware::Ctx Firmware::MakeCtx(std::span<const uint8_t> request, size_t packetSize) const {
  Ctx c;
  c.req = request;
  c.payloadSize = framing::MaxPayload(packetSize, m_config.generation == 0 ? 0 : 1);
  c.wordPayload = c.payloadSize & ~size_t{3};
  return c;
}

std::vector<Reply> Firmware::Handle(std::span<const uint8_t> request, size_t packetSize) {
  const Ctx c = MakeCtx(request, packetSize);
  if (request.size() < 4) return {Fail(kErrUnimplemented)};
  const uint32_t code = GetLE32(request.data());
  std::vector<Reply> replies;
  if (m_streamRemaining > 0 && code == Code(Cmd::StreamWrite)) {
    replies = StreamWrite(c);
  } else {
    if (code != Code(Cmd::ErrorQuery)) {
      m_lastError = 0;
      m_streamRemaining = 0;
    }
    replies = Dispatch(code, c);
  }
  if (m_target) m_target->EndCommand();
  return replies;
}

std::vector<Reply> Firmware::Dispatch(uint32_t code, const Ctx& c) {
  switch (static_cast<Cmd>(code)) {
    case Cmd::Handshake: return {Handshake(c)};
    case Cmd::ErrorQuery: {
      Reply r;
      Put(r.payload, 0, m_lastError);
      return {r};
    }
    case Cmd::LinkCheck: return {Reply{std::vector<uint8_t>(16, 0), false}};
    case Cmd::MultiB1: case Cmd::MultiB5: case Cmd::MultiFA: case Cmd::MultiFD: return {Fail(kErrUnimplemented)};
    case Cmd::RegisterMulti: case Cmd::MemoryMulti: case Cmd::AdapterMemoryMulti: case Cmd::AdapterRegisterMulti:
      return {MultiAccess(code, c)};
    case Cmd::ReadBlock: return {ReadBlock(c)};
    case Cmd::WriteBlock: return {WriteBlock(c)};
    case Cmd::StreamRead: return StreamRead(c);
    case Cmd::StreamWrite: return StreamWrite(c);
    case Cmd::RegisterDump: return {RegisterDump(c)};
    case Cmd::WriteRegisters: return {WriteAllRegisters(c)};
    case Cmd::McuReset: return {McuReset(c)};
    case Cmd::Step: case Cmd::Halt: case Cmd::Run: case Cmd::CoreState: return {RunControl(code)};
    case Cmd::Configure: return {Configure(c)};
    case Cmd::DebugId: {
      if (const uint32_t e = NeedTarget(false)) return {Fail(e)};
      return {Echo(code, 8, {m_target->DebugId(c.Arg(0))})};
    }
    case Cmd::WriteFlash: case Cmd::ReadFlash: case Cmd::EraseFlash: case Cmd::SetFlashMode:
      return {FlashCommand(code, c)};
    case Cmd::SetBreakpoint: case Cmd::ClearBreakpoint: {
      if (const uint32_t e = NeedTarget(true)) return {Fail(e)};
      const uint32_t e = code == Code(Cmd::SetBreakpoint) ? m_target->SetBreakpoint(c.Arg(1), c.Arg(2))
                                                          : m_target->ClearBreakpoint(c.Arg(1));
      if (e) return {Fail(e)};
      return {Echo(code, 16, {1})};
    }
    case Cmd::SetBridgeMode: case Cmd::ReadBridge: case Cmd::WriteBridge: return {Bridge(code, c)};
    case Cmd::SwoTransport: case Cmd::SwoMode: case Cmd::SwoBaudrate: case Cmd::SwoControl: case Cmd::SwoStatus:
    case Cmd::SwoData:
      return {Swo(code, c)};
    case Cmd::SetEtm: case Cmd::GetEtmState: return {Etm(code, c)};
  }
  return {Fail(kErrUnimplemented)};
}

Reply Firmware::Handshake(const Ctx&) {
  Reply r;
  r.payload.assign(24, 0);
  Put(r.payload, 0, m_version);
  Put(r.payload, 4, m_mcu.ChipId());
  Put(r.payload, 8, m_config.designId | (m_config.pro ? 1u : 0u));
  Put(r.payload, 12, 3300u | (5000u << 16));  // target and USB supply in mV
  Put(r.payload, 16, m_mcu.AdapterId());
  for (size_t i = 0; i < m_suffix.size() && i < 4; ++i) r.payload[20 + i] = static_cast<uint8_t>(m_suffix[i]);
  return r;
}

Reply Firmware::MultiAccess(uint32_t kind, const Ctx& c) {
  // The lights change once per command, however many of their words it writes.
  struct LedNote {
    AdapterMcu& mcu;
    ~LedNote() { mcu.NoteLeds(); }
  } note{m_mcu};
  if (c.req.size() < 8) return Fail(kErrUnimplemented);
  const size_t n = c.req[4];
  if (8 + 12 * n > c.req.size()) return Fail(kErrUnimplemented);
  if (kind == 0xB8 || kind == 0xB9)
    if (const uint32_t e = NeedTarget(true)) return Fail(e);
  Reply r;
  r.payload.resize(8 * n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* e = c.req.data() + 8 + 12 * i;
    const uint32_t addr = GetLE32(e), value = GetLE32(e + 4), mask = GetLE32(e + 8);
    const bool pureRead = value == 0 && mask == 0xFFFFFFFF;
    uint32_t before = 0, after = 0, err = 0;
    auto read = [&](uint32_t& v) {
      switch (kind) {
        case 0xB8: return m_target->ReadReg(addr, v);
        case 0xB9: return m_target->ReadWord(addr, v);
        case 0xFB: return m_mcu.ReadMem(addr, v);
        default: return m_mcu.ReadReg(addr, v);
      }
    };
    auto write = [&](uint32_t v) {
      switch (kind) {
        case 0xB8: return m_target->WriteReg(addr, v);
        case 0xB9: return m_target->WriteWord(addr, v);
        case 0xFB: return m_mcu.WriteMem(addr, v);
        default: return m_mcu.WriteReg(addr, v);
      }
    };
    err = read(before);
    after = before;
    if (!err && !pureRead) {
      err = write((before & mask) | value);
      if (!err) err = read(after);
    }
    if (err) return Fail(err);
    Put(r.payload, 8 * i, before);
    Put(r.payload, 8 * i + 4, after);
  }
  return r;
}

Reply Firmware::ReadBlock(const Ctx& c) {
  if (const uint32_t e = NeedTarget(true)) return Fail(e);
  const uint32_t len = std::min<uint32_t>(c.Arg(1), static_cast<uint32_t>(c.payloadSize));
  Reply r;
  r.payload.resize(len);
  if (const uint32_t e = m_target->ReadBytes(c.Arg(0), r.payload)) return Fail(e);
  return r;
}

Reply Firmware::WriteBlock(const Ctx& c) {
  if (const uint32_t e = NeedTarget(true)) return Fail(e);
  const uint32_t len = c.Arg(1);
  if (c.req.size() < 12 || len > c.req.size() - 12) return Fail(kErrSetReg);
  if (const uint32_t e = m_target->WriteBytes(c.Arg(0), c.req.subspan(12, len))) return Fail(e);
  return Echo(0xBC, 16);
}

std::vector<Reply> Firmware::StreamRead(const Ctx& c) {
  if (const uint32_t e = NeedTarget(true)) return {Fail(e)};
  const uint32_t address = c.Arg(0), len = c.Arg(1);
  if (len > 64 * 1024) return {Fail(kErrGetReg)};  // more than a host ever asks for in one chunk
  std::vector<uint8_t> data(len);
  if (const uint32_t e = m_target->ReadBytes(address, data)) return {Fail(e)};
  std::vector<Reply> out;
  size_t off = 0;
  const size_t first = c.wordPayload - 12, next = c.wordPayload - 4;
  do {
    const size_t n = std::min(out.empty() ? first : next, data.size() - off);
    out.push_back(Reply{std::vector<uint8_t>(data.begin() + off, data.begin() + off + n), false});
    off += n;
  } while (off < data.size());
  return out;
}

std::vector<Reply> Firmware::StreamWrite(const Ctx& c, std::optional<uint32_t> refusal) {
  const bool first = m_streamRemaining == 0;
  const size_t head = first ? 12 : 4;
  if (c.req.size() < head + 1) {
    m_streamRemaining = 0;
    return {Fail(kErrSetReg)};
  }
  if (first) {
    // A failure shows in the one reply after the last packet, so that the
    // continuation packets are not taken for new commands.
    m_streamError = refusal;
    if (!m_streamError)
      if (const uint32_t e = NeedTarget(true)) m_streamError = e;
    m_streamAddress = c.Arg(0);
    m_streamRemaining = c.Arg(1);
    m_streamNext = 0;
    if (m_streamRemaining == 0) return {m_streamError ? Fail(*m_streamError) : Echo(0xB4, 16)};
  }
  const size_t n = std::min<size_t>(c.req.size() - head - 1, m_streamRemaining);
  const uint8_t seq = c.req.back();  // the packet's own sequence byte closes it
  if (seq != m_streamNext && !m_streamError) m_streamError = kErrSetReg;
  ++m_streamNext;
  if (!m_streamError)
    if (const uint32_t e = m_target->WriteBytes(m_streamAddress, c.req.subspan(head, n))) m_streamError = e;
  m_streamAddress += static_cast<uint32_t>(n);
  m_streamRemaining -= static_cast<uint32_t>(n);
  if (n == 0) m_streamRemaining = 0;  // a packet without data ends the transfer
  if (m_streamRemaining > 0) return {};
  if (m_streamError) return {Fail(*m_streamError)};
  return {Echo(0xB4, 16)};
}

Reply Firmware::RegisterDump(const Ctx& c) {
  if (const uint32_t e = NeedTarget(true)) return Fail(e);
  const uint32_t count = std::min<uint32_t>(c.Arg(1), static_cast<uint32_t>(c.payloadSize / 4));
  Reply r;
  r.payload.resize(4 * count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = 0;
    if (const uint32_t e = m_target->ReadReg(c.Arg(0) + i, v)) return Fail(e);
    Put(r.payload, 4 * i, v);
  }
  return r;
}

Reply Firmware::WriteAllRegisters(const Ctx& c) {
  if (const uint32_t e = NeedTarget(true)) return Fail(e);
  const uint32_t count = c.Arg(1);
  if (c.req.size() < 12 || count > (c.req.size() - 12) / 4) return Fail(kErrSetReg);
  for (uint32_t i = 0; i < count; ++i)
    if (const uint32_t e = m_target->WriteReg(c.Arg(0) + i, GetLE32(c.req.data() + 12 + 4 * i))) return Fail(e);
  return Echo(0xB6, 16);
}

Reply Firmware::McuReset(const Ctx& c) {
  const uint32_t reset = c.Arg(0), connect = c.Arg(1);
  const bool hardReset = reset >= kResetHw && reset <= kResetRescue;
  if (connect == kConnectNone || connect == kConnectDisconnect) {
    if (m_target && m_targetPresent) {
      if (hardReset) m_target->Reset(false);
      else if (reset == kResetAuto) m_target->Run();
      m_target->SetDebugAttached(false);
    }
    m_connected = false;
    return Echo(0xE2, 16);
  }
  if (connect > kConnectIcp) return Fail(kErrUnimplemented);
  if (const uint32_t e = NeedTarget(false)) return Fail(e);
  m_connected = true;
  m_target->SetDebugAttached(true);
  if (connect == kConnectPreReset || connect == kConnectUnderReset || (connect == kConnectNormal && hardReset))
    m_target->Reset(true);
  else if (connect == kConnectIcp)
    m_target->Halt();
  return Echo(0xE2, 16);
}

Reply Firmware::RunControl(uint32_t code) {
  if (const uint32_t e = NeedTarget(true)) return Fail(e);
  switch (code) {
    case 0xD1:
      if (const uint32_t e = m_target->Step()) return Fail(e);
      return Echo(code, 16, {m_target->Pc()});
    case 0xD2: m_target->Halt(); return Echo(code, 16, {m_target->Pc()});
    case 0xD3: m_target->Run(); return Echo(code, 16, {m_target->Pc()});
    default: {
      const bool running = m_target->IsRunning();
      return Echo(code, 16, {m_target->Pc(), running ? 1u : 0u});
    }
  }
}

Reply Firmware::Configure(const Ctx& c) {
  const uint32_t clock = c.Arg(0);
  const uint32_t voltage = c.Arg(2) & 0xFFFF;
  const bool power = c.Arg(3) != 0;
  const uint32_t measured = (m_target && m_targetPresent) ? voltage : 0;
  return Echo(0xA2, 16, {(clock & 0xFFFF) | (voltage << 16), measured | (power ? 1u << 16 : 0u)});
}

Reply Firmware::FlashCommand(uint32_t code, const Ctx& c) {
  if (const uint32_t e = NeedTarget(code != 0xA5)) return Fail(e);
  switch (code) {
    case 0xA0: {
      const uint32_t len = c.Arg(1);
      if (c.req.size() < 12 || len > c.req.size() - 12) return Fail(kErrWriteFlash);
      if (const uint32_t e = m_target->FlashProgram(c.Arg(0), c.req.subspan(12, len))) return Fail(e);
      return Echo(code, 16);
    }
    case 0xA1: {
      Reply r;
      r.payload.resize(std::min<uint32_t>(c.Arg(1), static_cast<uint32_t>(c.payloadSize)));
      if (m_target->FlashRead(c.Arg(0), r.payload)) return Fail(kErrReadFlash);
      return r;
    }
    case 0xA4: {
      if (c.req.size() >= 28) {
        const uint32_t n = std::max<uint32_t>(1, std::min<uint32_t>(c.Arg(0), 4));
        for (uint32_t i = 0; i < n; ++i)
          if (m_target->FlashErasePage(c.Arg(1 + i))) return Fail(kErrPageErase);
      } else if (m_target->FlashEraseAll()) {
        return Fail(kErrChipErase);
      }
      return Echo(code, 16);
    }
    default: {  // 0xA5 flash mode
      const uint32_t kind = c.Arg(0);
      const FlashGeometry g = m_target->Geometry();
      if (kind == 2) return Echo(code, 40, {g.flashBase, g.flashSize, g.pageSize, g.ramBase, g.ramSize, g.productId});
      if (kind == 4 || kind == 6) return Echo(code, 40, {g.flashSize});
      return Echo(code, 40);
    }
  }
}

}  // namespace sim
