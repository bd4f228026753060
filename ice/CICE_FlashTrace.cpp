// CICE: target flash commands, the adapter's bridge pins, serial-wire
// output and the trace macrocell.
#include <algorithm>
#include <cstring>

#include "ice/CICE.h"
#include "platform/StringTable.h"

using namespace ice;

// ---- target flash --------------------------------------------------------------

void CICE::SetFlashMode(uint32_t kind, const char* name, uint32_t* info, uint8_t option) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSetFlashMode);
  req.Word(kind).PadTo(8 + 56);
  unsigned length = 24;
  if (name) {
    const size_t n = std::min<size_t>(std::strlen(name), 32);
    std::memcpy(req.MutableData() + 12, name, n);
    length = std::max<unsigned>(24, static_cast<unsigned>(n) + 12);
  }
  CommandGeneration();  // without a selected adapter, say so before sending anything
  if (m_features.bFlashModeOption)
    PutLE32(req.MutableData() + 8, static_cast<uint32_t>(option) * 256);
  uint8_t reply[40] = {};
  unsigned got = 0;
  Transact(req.Data(), length, reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  CheckEcho(reply, kCmdSetFlashMode, "ICE: protocol error - SetFlashMode!");
  if (kind == 2) {
    if (got >= 28 && info)
      for (int i = 0; i < 6; ++i) info[i] = GetLE32(reply + 4 + 4 * i);
  } else if ((kind == 4 || kind == 6) && info) {
    info[0] = GetLE32(reply + 4);
  }
  if (kind != 3) m_nFlashMode = static_cast<int>(kind);
}

int CICE::GetFlashMode() {
  ScopedMutex lock(m_cmdLock);
  return m_nFlashMode;
}

void CICE::EraseFlashChip(unsigned count, const uint32_t* words, uint32_t value) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdEraseFlashChip);
  int timeout = kDefaultTimeoutMs;
  if (words && m_nFlashMode == 0) {
    const unsigned n = std::min(count, 4u);
    uint32_t w[4] = {};
    if (count == 0)
      w[0] = words[0];
    else
      for (unsigned i = 0; i < n; ++i) w[i] = words[i];
    req.Word(n).Word(w[0]).Word(w[1]).Word(w[2]).Word(w[3]).Word(value);
  } else if (m_nFlashMode == 1 || m_nFlashMode == 4 || m_nFlashMode == 6) {
    timeout = kLongEraseTimeoutMs;
  }
  uint8_t reply[16] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - Erase_FlashChip!", nullptr,
                timeout);
}

unsigned CICE::WriteFlash(uint32_t address, const void* data, unsigned length) {
  ScopedMutex lock(m_cmdLock);
  if (length > GetMaxBlockData()) throw CICEException("ICE: Write_Flash buffer overflow!");
  CommandRecord req(kCmdWriteFlash);
  req.Word(address).Word(length).Bytes(data, length);
  uint8_t reply[16] = {};
  unsigned got = 0;
  Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  return length;
}

unsigned CICE::ReadFlash(uint32_t address, void* buffer, unsigned length) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdReadFlash);
  req.Word(address).Word(length);
  unsigned got = 0;
  Transact(req.Data(), req.Size(), buffer, length, &got, kDefaultTimeoutMs, true);
  return got;
}

void CICE::ReadFlashBlock(uint32_t address, void* buffer, unsigned length) {
  ScopedMutex lock(m_cmdLock);
  auto* out = static_cast<uint8_t*>(buffer);
  const unsigned w = GetWordPayload();
  if (w == 0) throw CICEException(text::kPortStateError);
  for (unsigned off = 0; off < length; off += w)
    ReadFlash(address + off, out + off, std::min(w, length - off));
}

void CICE::WriteFlashBlock(uint32_t address, const void* data, unsigned length) {
  ScopedMutex lock(m_cmdLock);
  const auto* in = static_cast<const uint8_t*>(data);
  const unsigned maxBlock = GetMaxBlockData();
  if (maxBlock == 0) throw CICEException(text::kPortStateError);
  std::vector<uint8_t> piece;
  for (unsigned off = 0; off < length; off += maxBlock) {
    const unsigned n = std::min(maxBlock, length - off);
    // Pieces go out in whole words; a short tail is padded with the erased
    // value instead of reading past the caller's data.
    piece.assign((n + 3) & ~3u, 0xFF);
    std::memcpy(piece.data(), in + off, n);
    WriteFlash(address + off, piece.data(), static_cast<unsigned>(piece.size()));
  }
}

// ---- bridge --------------------------------------------------------------------

void CICE::SetBridgeMode(uint32_t mode) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSetBridgeMode);
  req.Word(mode);
  uint8_t reply[4] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SetBridgeMode!");
}

unsigned CICE::ReadBridge(uint8_t* buffer40) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdReadBridge);
  req.Word(40);
  unsigned got = 0;
  Transact(req.Data(), req.Size(), buffer40, 40, &got, kDefaultTimeoutMs, true);
  if (got > 40) throw CICEException("ICE: Read_Bridge buffer overflow!");
  return got;
}

unsigned CICE::WriteBridge(const uint8_t* record12) {
  ScopedMutex lock(m_cmdLock);
  const unsigned payload = GetPayloadSize();
  const unsigned room = payload == 8 ? 12 : (payload > 8 ? payload - 8 : 0);
  if (room < 12) throw CICEException("ICE: Write_Bridge buffer overflow!");
  CommandRecord req(kCmdWriteBridge);
  req.Word(12).Bytes(record12, 12);
  uint8_t reply[4] = {};
  unsigned got = 0;
  Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  return 12;
}

// ---- serial-wire output and trace ----------------------------------------------

void CICE::SwoTransport(bool on) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSwoTransport);
  req.Byte(on ? 1 : 0);
  uint8_t reply[8] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SwoTransport!");
}

void CICE::SwoMode(uint32_t mode) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSwoMode);
  req.Byte(SwoModeByte(mode));
  uint8_t reply[8] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SwoMode!");
}

uint32_t CICE::SwoBaudrate(uint32_t rate) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSwoBaudrate);
  req.Word(rate);
  uint8_t reply[8] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SwoBaudrate!");
  return GetLE32(reply + 4);
}

void CICE::SwoControl(bool on) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSwoControl);
  req.Byte(on ? 1 : 0);
  uint8_t reply[8] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SwoControl!");
}

uint8_t CICE::SwoStatus(uint32_t* extra) {
  ScopedMutex lock(m_cmdLock);
  uint8_t reply[12] = {};
  SimpleCommand(CommandRecord(kCmdSwoStatus), reply, sizeof reply,
                "ICE: protocol error - SwoStatus!");
  if (extra) *extra = GetLE32(reply + 5);
  return reply[4];
}

unsigned CICE::GetSwoDataMax() {
  ScopedMutex lock(m_cmdLock);
  const unsigned w = GetWordPayload();
  return w > 7 ? w - 7 : 0;
}

uint8_t CICE::SwoData(unsigned* length, uint8_t* buffer, unsigned capacity) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSwoData);
  const unsigned max = GetSwoDataMax();
  req.Byte(static_cast<uint8_t>(max)).Byte(static_cast<uint8_t>(max >> 8));
  uint8_t reply[1024] = {};
  unsigned got = 0;
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SwoData!", &got);
  // The length field is the adapter's word; never copy more than arrived or
  // than the caller's buffer holds.
  unsigned n = GetLE16(reply + 5);
  n = std::min(n, got > 7 ? got - 7 : 0u);
  n = std::min(n, capacity);
  if (n && buffer) std::memcpy(buffer, reply + 7, n);
  if (length) *length = n;
  return reply[4];
}

void CICE::SetEtmc(const uint32_t* record, uint8_t* out20) {
  ScopedMutex lock(m_cmdLock);
  if (!record) throw CICEException("ICE: argument error - SetEtmc!");
  CommandRecord req(kCmdSetEtmc);
  req.Word(record[0]).Word(record[1]).Word(record[2]).PadTo(24);
  uint8_t reply[24] = {};
  unsigned got = 0;
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - SetEtmc!", &got);
  if (out20 && got > 4) std::memcpy(out20, reply + 4, std::min(got - 4, 20u));
}

uint32_t CICE::GetEtmcState() {
  ScopedMutex lock(m_cmdLock);
  uint8_t reply[12] = {};
  SimpleCommand(CommandRecord(kCmdGetEtmcState), reply, sizeof reply,
                "ICE: protocol error - GetEtmcState!");
  return GetLE32(reply + 4);
}

