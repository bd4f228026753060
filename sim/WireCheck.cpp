#include "sim/WireCheck.h"

#include <algorithm>
#include <cstdio>

#include "sim/Commands.h"

namespace sim {
namespace {

uint32_t LE32(std::span<const uint8_t> b, size_t off) {
  if (off + 4 > b.size()) return 0;
  return uint32_t{b[off]} | uint32_t{b[off + 1]} << 8 | uint32_t{b[off + 2]} << 16 | uint32_t{b[off + 3]} << 24;
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

// Record length a command must have: exactly `min` when `max` is 0, else
// anything in [min, max]; `known` false for codes the adapter does not have.
struct Expect {
  bool known = true;
  size_t min = 0;
  size_t max = 0;
};

// Lengths that follow from the code alone; 0 = decided from the record.
Expect FixedLength(uint32_t code) {
  switch (static_cast<Cmd>(code)) {
    case Cmd::SwoStatus:
    case Cmd::GetEtmState:
    case Cmd::Step:
    case Cmd::Halt:
    case Cmd::Run:
    case Cmd::CoreState:
    case Cmd::ErrorQuery: return {true, 4, 0};
    case Cmd::SwoTransport:
    case Cmd::SwoMode:
    case Cmd::SwoControl: return {true, 5, 0};
    case Cmd::SwoData: return {true, 6, 0};
    case Cmd::SetBridgeMode:
    case Cmd::ReadBridge:
    case Cmd::SwoBaudrate:
    case Cmd::DebugId:
    case Cmd::LinkCheck: return {true, 8, 0};
    case Cmd::ReadFlash:
    case Cmd::RegisterDump:
    case Cmd::StreamRead:
    case Cmd::ReadBlock: return {true, 12, 0};
    case Cmd::SetBreakpoint:
    case Cmd::ClearBreakpoint: return {true, 16, 0};
    case Cmd::WriteBridge:
    case Cmd::McuReset: return {true, 20, 0};
    case Cmd::Configure:
    case Cmd::SetEtm: return {true, 24, 0};
    case Cmd::SetFlashMode: return {true, 24, 44};
    case Cmd::EraseFlash:  // 4 or 28, checked by the caller
    case Cmd::WriteFlash:
    case Cmd::StreamWrite:
    case Cmd::WriteRegisters:
    case Cmd::WriteBlock:
    case Cmd::MultiB1:
    case Cmd::MultiB5:
    case Cmd::RegisterMulti:
    case Cmd::MemoryMulti:
    case Cmd::MultiFA:
    case Cmd::AdapterMemoryMulti:
    case Cmd::MultiFD:
    case Cmd::AdapterRegisterMulti:
    case Cmd::Handshake: return {true, 0, 0};
  }
  return {false, 0, 0};
}

bool KnownLoaderCommand(uint32_t code) {
  switch (static_cast<LoaderCmd>(code)) {
    case LoaderCmd::WriteMore:
    case LoaderCmd::WriteFirst:
    case LoaderCmd::WriteConfig:
    case LoaderCmd::ReadConfig:
    case LoaderCmd::Sync:
    case LoaderCmd::Version:
    case LoaderCmd::ApromSize:
    case LoaderCmd::StartApplication:
    case LoaderCmd::RestartLoader:
    case LoaderCmd::ChipId:
    case LoaderCmd::FlashSize:
    case LoaderCmd::ReadSum:
    case LoaderCmd::StoreSum: return true;
  }
  return false;
}

constexpr size_t kLoaderHeader = 8;        // command, packet number
constexpr size_t kLoaderFirstHeader = 16;  // and start, total length in the first write packet

}  // namespace

const char* ViolationName(Violation v) {
  switch (v) {
    case Violation::Size: return "size";
    case Violation::Length: return "length";
    case Violation::Header: return "header";
    case Violation::Command: return "command";
    case Violation::Sequence: return "sequence";
    case Violation::Owed: return "owed";
  }
  return "?";
}

uint64_t ViolationCounts::Total() const {
  uint64_t t = 0;
  for (uint64_t v : n) t += v;
  return t;
}

WireCheck WireCheck::ForCommands(size_t packetSize, int headerMode) { return WireCheck(false, packetSize, headerMode); }
WireCheck WireCheck::ForLoader(size_t reportSize) { return WireCheck(true, reportSize, 0); }

std::vector<Finding> WireCheck::Check(std::span<const uint8_t> message, bool replyOwed) {
  std::vector<Finding> out;
  if (replyOwed) out.push_back({Violation::Owed, "request sent before the previous reply was read"});
  if (message.size() != m_size)
    out.push_back({Violation::Size, "message of " + std::to_string(message.size()) + " bytes on an interface of " +
                                        std::to_string(m_size)});
  if (m_loader)
    CheckLoader(message, out);
  else
    CheckCommand(message, out);
  return out;
}

void WireCheck::CheckCommand(std::span<const uint8_t> message, std::vector<Finding>& out) {
  const size_t header = m_mode == 0 ? 2 : 3;
  if (message.size() < header) {
    out.push_back({Violation::Header, "message shorter than its header"});
    m_streamRemaining = 0;
    return;
  }
  if (message[0] & 0x80) out.push_back({Violation::Header, "request with the reply flag set"});
  const size_t declared = m_mode == 0 ? message[1] : (size_t{message[1]} << 8 | message[2]);
  const size_t room = std::min(m_size, message.size()) - header;
  if (declared > room)
    out.push_back({Violation::Length, "length field " + std::to_string(declared) + " beyond a payload of " +
                                          std::to_string(room)});
  const auto record = message.subspan(header, std::min(declared, message.size() - header));
  if (record.size() < 4) {
    out.push_back({Violation::Length, "record of " + std::to_string(record.size()) + " bytes has no command code"});
    m_streamRemaining = 0;
    return;
  }
  if (m_streamRemaining > 0) {
    const uint32_t code = LE32(record, 0);
    if (code == Code(Cmd::StreamWrite)) {
      CheckContinuation(record, out);
      return;
    }
    if (code != Code(Cmd::Handshake))  // the handshake abandons a transfer on purpose
      out.push_back({Violation::Sequence, "command " + Hex(code) + " while a streamed write expects packet " +
                                              std::to_string(m_streamNext)});
    m_streamRemaining = 0;
  }
  CheckRecord(record, out);
}

void WireCheck::CheckRecord(std::span<const uint8_t> record, std::vector<Finding>& out) {
  const uint32_t code = LE32(record, 0);
  const size_t payload = m_size - (m_mode == 0 ? 2 : 3);
  const size_t maxBlock = (payload & ~size_t{3}) - 12;
  const size_t n = record.size();
  const Expect fixed = FixedLength(code);
  if (!fixed.known) {
    out.push_back({Violation::Command, "unknown command code " + Hex(code)});
    return;
  }
  auto bad = [&](const std::string& want) {
    out.push_back({Violation::Length, "command " + Hex(code) + " record of " + std::to_string(n) + " bytes, " + want});
  };
  if (fixed.min) {
    if (fixed.max == 0 && n != fixed.min) bad("expected " + std::to_string(fixed.min));
    if (fixed.max && (n < fixed.min || n > fixed.max))
      bad("expected " + std::to_string(fixed.min) + " to " + std::to_string(fixed.max));
    return;
  }
  switch (static_cast<Cmd>(code)) {
    case Cmd::Handshake:
      if (n != payload) bad("expected the whole payload of " + std::to_string(payload));
      break;
    case Cmd::EraseFlash:
      if (n != 4 && n != 28) bad("expected 4 or 28");
      break;
    case Cmd::WriteFlash:
    case Cmd::WriteBlock: {
      const uint32_t len = LE32(record, 8);
      if (n < 12 || n - 12 != len) bad("expected 12 + " + std::to_string(len));
      else if (len > maxBlock) bad("data beyond the block limit of " + std::to_string(maxBlock));
      break;
    }
    case Cmd::WriteRegisters: {
      const uint64_t count = LE32(record, 8);
      if (n < 12 || n - 12 != 4 * count) bad("expected 12 + 4 x " + std::to_string(count));
      break;
    }
    case Cmd::StreamWrite: {
      const uint32_t chunk = LE32(record, 8);
      const size_t first = std::min<size_t>(chunk, maxBlock);
      if (n != 13 + first) {
        bad("expected 13 + " + std::to_string(first));
        break;  // the packets that follow cannot be told apart from new commands
      }
      if (record.back() != 0) out.push_back({Violation::Sequence, "first packet of a streamed write numbered " +
                                                                      std::to_string(record.back())});
      m_streamRemaining = chunk - static_cast<uint32_t>(first);
      m_streamNext = 1;
      break;
    }
    default: {  // multi-access
      const size_t entries = n >= 5 ? record[4] : 0;
      if (n != 8 + 12 * entries) bad("expected 8 + 12 x " + std::to_string(entries));
      break;
    }
  }
}

void WireCheck::CheckContinuation(std::span<const uint8_t> record, std::vector<Finding>& out) {
  const size_t room = (m_size - (m_mode == 0 ? 2 : 3)) & ~size_t{3};
  const size_t want = std::min<size_t>(room - 4, m_streamRemaining);
  const size_t got = record.size() >= 5 ? record.size() - 5 : 0;
  if (record.size() < 5 || got != want)
    out.push_back({Violation::Length, "streamed write packet " + std::to_string(m_streamNext) + " carries " +
                                          std::to_string(got) + " data bytes, expected " + std::to_string(want)});
  if (record.size() >= 5 && record.back() != static_cast<uint8_t>(m_streamNext))
    out.push_back({Violation::Sequence, "streamed write packet numbered " + std::to_string(record.back()) +
                                            ", expected " + std::to_string(static_cast<uint8_t>(m_streamNext))});
  m_streamRemaining -= static_cast<uint32_t>(std::min<size_t>(got, m_streamRemaining));
  if (got == 0) m_streamRemaining = 0;
  ++m_streamNext;
}

void WireCheck::CheckLoader(std::span<const uint8_t> message, std::vector<Finding>& out) {
  if (message.size() < kLoaderHeader) {
    out.push_back({Violation::Header, "boot-loader request shorter than its header"});
    return;
  }
  const uint32_t code = LE32(message, 0);
  const uint32_t number = LE32(message, 4);
  if (!KnownLoaderCommand(code)) out.push_back({Violation::Command, "unknown boot-loader command " + Hex(code)});
  if (code == Code(LoaderCmd::Sync)) {
    if (message.size() < kLoaderHeader + 4 || LE32(message, kLoaderHeader) != number)
      out.push_back({Violation::Sequence, "0xA4 without its own packet number " + std::to_string(number) + " as data"});
    m_synced = true;
  } else if (!m_synced) {
    out.push_back({Violation::Sequence, "boot-loader command " + Hex(code) + " before 0xA4 synchronised the numbers"});
    m_synced = true;
  } else if (number != m_nextNumber) {
    out.push_back({Violation::Sequence, "packet number " + std::to_string(number) + ", expected " +
                                            std::to_string(m_nextNumber)});
  }
  m_nextNumber = number + 2;

  const size_t size = std::min(m_size, message.size());
  if (code == Code(LoaderCmd::WriteFirst)) {
    const uint32_t total = LE32(message, kLoaderHeader + 4);
    const size_t first = size > kLoaderFirstHeader ? size - kLoaderFirstHeader : 0;
    m_writeRemaining = total - static_cast<uint32_t>(std::min<size_t>(first, total));
  } else if (code == Code(LoaderCmd::WriteMore)) {
    if (m_writeRemaining == 0)
      out.push_back({Violation::Sequence, "application-write packet without a write in progress"});
    const size_t carried = size > kLoaderHeader ? size - kLoaderHeader : 0;
    m_writeRemaining -= static_cast<uint32_t>(std::min<size_t>(carried, m_writeRemaining));
  }
}

}  // namespace sim
