// CICE: target memory and core registers, block and streamed transfers,
// and the shadowing that keeps software breakpoints out of sight.
#include <algorithm>
#include <cstring>

#include "ice/CICE.h"
#include "platform/ShareArea.h"
#include "platform/StringTable.h"

using namespace ice;

void CICE::ShadowReadBytes(uint32_t start, std::span<uint8_t> data) {
  if (m_breakpoints.empty()) return;
  ShadowRead(m_breakpoints, GetBreakpointInstruction(), start, data);
}

void CICE::ShadowWriteBytes(uint32_t start, std::span<uint8_t> data) {
  if (m_breakpoints.empty()) return;
  ShadowWrite(m_breakpoints, GetBreakpointInstruction(), start, data);
}

uint32_t CICE::ReadReg(uint32_t reg) {
  ScopedMutex lock(m_cmdLock);
  return ReadOneWord(kCmdRegMulti, reg);
}

void CICE::WriteReg(uint32_t reg, uint32_t value) {
  ScopedMutex lock(m_cmdLock);
  WriteOneWord(kCmdRegMulti, reg, value);
}

void CICE::ReadRegs(uint32_t* buffer, uint32_t first, uint32_t count) {
  ScopedMutex lock(m_cmdLock);
  // One reply carries at most a word payload; a longer dump goes in pieces
  // rather than leaving the tail of the buffer unfilled.
  const uint32_t perPacket = std::max(1u, GetWordPayload() / 4);
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(perPacket, count - done);
    CommandRecord req(kCmdReadRegs);
    req.Word(first + done).Word(n);
    std::vector<uint8_t> reply(static_cast<size_t>(n) * 4, 0);
    unsigned got = 0;
    Transact(req.Data(), req.Size(), reply.data(), static_cast<unsigned>(reply.size()), &got,
             kDefaultTimeoutMs, true);
    for (uint32_t i = 0; i < n; ++i) buffer[done + i] = GetLE32(reply.data() + 4 * i);
    done += n;
  }
}

void CICE::WriteRegs(const uint32_t* data, uint32_t first, uint32_t count) {
  ScopedMutex lock(m_cmdLock);
  if (static_cast<uint64_t>(count) * 4 > GetMaxBlockData())
    throw CICEException("ICE: Write_REG_ALL buffer overflow!");
  CommandRecord req(kCmdWriteRegAll);
  req.Word(first).Word(count);
  for (uint32_t i = 0; i < count; ++i) req.Word(data[i]);
  uint8_t reply[16] = {};
  unsigned got = 0;
  Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
}

uint32_t CICE::ReadMem32(uint32_t address, bool shadow) {
  ScopedMutex lock(m_cmdLock);
  uint32_t value = ReadOneWord(kCmdMemMulti, address);
  if (shadow) {
    uint8_t bytes[4];
    PutLE32(bytes, value);
    ShadowReadBytes(address, bytes);
    value = GetLE32(bytes);
  }
  return value;
}

void CICE::WriteMem32(uint32_t address, uint32_t value, bool shadow, uint32_t* first,
                      uint32_t* second, uint32_t mask) {
  ScopedMutex lock(m_cmdLock);
  if (shadow) {
    uint8_t bytes[4];
    PutLE32(bytes, value);
    ShadowWriteBytes(address, bytes);
    value = GetLE32(bytes);
  }
  uint32_t a = 0, b = 0;
  MultiAccess(kCmdMemMulti, 1, &address, &value, &mask, first ? &a : nullptr,
              second ? &b : nullptr);
  auto out = [&](uint32_t v, uint32_t* dst) {
    if (!dst) return;
    if (shadow) {
      uint8_t bytes[4];
      PutLE32(bytes, v);
      ShadowReadBytes(address, bytes);
      v = GetLE32(bytes);
    }
    *dst = v;
  };
  out(a, first);
  out(b, second);
}

void CICE::ReadMemMulti(unsigned count, const uint32_t* addresses, uint32_t* values) {
  ScopedMutex lock(m_cmdLock);
  ReadWords(kCmdMemMulti, count, addresses, values);
}

void CICE::WriteMemMulti(unsigned count, const uint32_t* addresses, const uint32_t* values) {
  ScopedMutex lock(m_cmdLock);
  MultiAccessAll(kCmdMemMulti, count, addresses, values, nullptr, nullptr);
}

unsigned CICE::ReadBlock(uint32_t address, unsigned length, void* buffer, bool shadow) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdReadBlock);
  req.Word(address).Word(length);
  unsigned got = 0;
  Transact(req.Data(), req.Size(), buffer, length, &got, kDefaultTimeoutMs, true);
  if (got > length) throw CICEException("ICE: Read_Block buffer overflow!");
  if (shadow) ShadowReadBytes(address, {static_cast<uint8_t*>(buffer), got});
  return got;
}

unsigned CICE::WriteBlock(uint32_t address, unsigned length, const void* data, bool shadow) {
  ScopedMutex lock(m_cmdLock);
  if (length > GetMaxBlockData()) throw CICEException("ICE: Write_Block buffer overflow!");
  CommandRecord req(kCmdWriteBlock);
  req.Word(address).Word(length).Bytes(data, length);
  if (shadow) ShadowWriteBytes(address, {req.MutableData() + 12, length});
  uint8_t reply[16] = {};
  unsigned got = 0;
  Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  return length;
}

void CICE::ReadMem(uint32_t address, void* buffer, unsigned length, bool shadow,
                   bool allowStreaming) {
  ScopedMutex lock(m_cmdLock);
  auto* out = static_cast<uint8_t*>(buffer);
  const bool streaming = allowStreaming && m_features.bStreamedRead;
  const unsigned w = GetWordPayload();
  if (w == 0) throw CICEException(text::kPortStateError);
  if (!streaming) {
    for (unsigned off = 0; off < length; off += w)
      ReadBlock(address + off, std::min(w, length - off), out + off, shadow);
    return;
  }
  const unsigned chunk = StreamReadChunkSize(w);
  for (unsigned off = 0; off < length; off += chunk)
    StreamReadChunk(address + off, out + off, std::min(chunk, length - off), shadow);
}

void CICE::StreamReadChunk(uint32_t address, uint8_t* buffer, unsigned length, bool shadow) {
  ScopedMutex lock(m_cmdLock);
  CUsbCmd* t = SelectedTransport();
  if (!t) return;
  const unsigned w = GetWordPayload();
  const unsigned maxBlock = GetMaxBlockData();
  ExchangeScope exchange(*this);
  ScopedShareLock<UsbShareArea> share(t->GetShareAreas());
  CommandRecord req(kCmdStreamRead);
  req.Word(address).Word(length);
  unsigned sent = 0;
  SendRequest(req.Data(), req.Size(), &sent, kDefaultTimeoutMs);
  unsigned done = 0;
  unsigned want = std::min(length, maxBlock);
  while (done < length) {
    unsigned got = 0;
    ReceiveReply(buffer + done, want, &got, kDefaultTimeoutMs);
    if (got == 0) throw CICEException(text::kReadError);
    if (shadow) ShadowReadBytes(address + done, {buffer + done, got});
    done += got;
    want = std::min(w - 4, length - done);
  }
}

void CICE::WriteMem(uint32_t address, const void* data, unsigned length, bool shadow) {
  ScopedMutex lock(m_cmdLock);
  const auto* in = static_cast<const uint8_t*>(data);
  const unsigned maxBlock = GetMaxBlockData();
  if (maxBlock == 0) throw CICEException(text::kPortStateError);
  // A streamed packet carries a word payload of data and header plus its
  // sequence byte; where the payload has no byte to spare for it (a payload
  // that is a multiple of 4) only the block loop fits.
  const bool streamFits = GetWordPayload() < GetPayloadSize();
  if (!m_features.bStreamedWrite || !streamFits) {
    for (unsigned off = 0; off < length; off += maxBlock)
      WriteBlock(address + off, std::min(maxBlock, length - off), in + off, shadow);
    return;
  }
  const unsigned chunk = StreamWriteChunkSize(maxBlock);
  for (unsigned off = 0; off < length; off += chunk)
    StreamWriteChunk(address + off, in + off, std::min(chunk, length - off), shadow);
}

void CICE::StreamWriteChunk(uint32_t address, const uint8_t* data, unsigned length,
                            bool shadow) {
  ScopedMutex lock(m_cmdLock);
  CUsbCmd* t = SelectedTransport();
  if (!t) return;
  const unsigned w = GetWordPayload();
  const unsigned maxBlock = GetMaxBlockData();
  ExchangeScope exchange(*this);
  ScopedShareLock<UsbShareArea> share(t->GetShareAreas());
  unsigned done = 0;
  uint8_t sequence = 0;
  do {
    // First packet {0xB4, address, length} + data + sequence 0, then
    // {0xB4} + data + sequence 1, 2, ...
    const bool firstPacket = done == 0;
    const unsigned n = std::min(firstPacket ? maxBlock : w - 4, length - done);
    CommandRecord req(kCmdStreamWrite);
    if (firstPacket) req.Word(address).Word(length);
    const unsigned dataAt = req.Size();
    req.Bytes(data + done, n).Byte(sequence++);
    if (shadow) ShadowWriteBytes(address + done, {req.MutableData() + dataAt, n});
    unsigned sent = 0;
    SendRequest(req.Data(), req.Size(), &sent, kDefaultTimeoutMs);
    done += n;
  } while (done < length);
  uint8_t reply[16] = {};
  unsigned got = 0;
  ReceiveReply(reply, sizeof reply, &got, kDefaultTimeoutMs);
}
