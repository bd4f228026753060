// CICE: the command exchange (send, receive, error query), payload sizes,
// the multi-access command, the version handshake and the link checks.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "ice/CICE.h"
#include "platform/ShareArea.h"
#include "platform/StringTable.h"

using namespace ice;

namespace {
// Runs a framed transport call. The transports report I/O failures by
// result; what they throw (an adapter's share area that could not be
// mapped: "share area not locked") leaves as the layer's own error type.
template <class Call>
bool TransportCall(int32_t& lastError, Call call) {
  try {
    return call();
  } catch (const std::runtime_error& e) {
    lastError = -1;
    throw CICEException(e.what());
  }
}
}  // namespace

bool CICE::AnyFound() { return m_discovery.AnyFound(); }

CUsbCmd* CICE::SelectedTransport() {
  if (m_nSelectedSlot < 0 || m_nSelectedSlot >= kPortCount) return nullptr;
  return m_discovery.Port(m_nSelectedSlot).pTransport;
}

int CICE::GetSelectedSlot() {
  ScopedMutex lock(m_cmdLock);
  return m_nSelectedSlot;
}

int CICE::GetPortChipType() {
  ScopedMutex lock(m_cmdLock);
  if (m_nSelectedSlot < 0 || m_nSelectedSlot >= kPortCount ||
      !m_discovery.Port(m_nSelectedSlot).bFound)
    throw CICEException(text::kPortStateError);
  return m_discovery.Port(m_nSelectedSlot).nChipType;
}

void CICE::RequireAdapter() {
  // After a failed send or receive the adapters are as good as closed, even
  // while the close waits for the outermost exchange to end: nothing more
  // goes on the wire (a reply may still be owed).
  if (AnyFound() && !m_bClosePending) return;
  m_nLastError = -1;
  throw CICEException(text::kNoAdapter);
}

int CICE::CommandGeneration() {
  // With no adapter at all a command says so, before any size is worked out.
  RequireAdapter();
  return GetPortChipType();
}

unsigned CICE::GetPayloadSize() {
  ScopedMutex lock(m_cmdLock);
  const int generation = CommandGeneration();
  return PayloadSizeFor(SelectedTransport()->GetPacketSize(false), generation);
}

unsigned CICE::GetWordPayload() { return WordPayloadOf(GetPayloadSize()); }
unsigned CICE::GetMaxBlockData() { return MaxBlockDataOf(GetPayloadSize()); }

unsigned CICE::GetMultiAccessLimit() {
  ScopedMutex lock(m_cmdLock);
  return MultiAccessLimitFor(m_features, GetPayloadSize());
}

uint32_t CICE::GetFirmwareVersion() {
  ScopedMutex lock(m_cmdLock);
  return m_uFirmwareVersion;
}
uint32_t CICE::GetAdapterChipId() {
  ScopedMutex lock(m_cmdLock);
  return m_uAdapterChipId;
}
bool CICE::IsPro() {
  ScopedMutex lock(m_cmdLock);
  return m_bPro;
}
FirmwareFeatures CICE::GetFirmwareFeatures() {
  ScopedMutex lock(m_cmdLock);
  return m_features;
}

int32_t CICE::GetLastErrorCode() {
  ScopedMutex lock(m_cmdLock);
  return m_nLastError;
}

std::string CICE::GetParam(const std::string& name) {
  ScopedMutex lock(m_cmdLock);
  const auto it = m_params.find(name);
  return it == m_params.end() ? std::string() : it->second;
}

void CICE::SetParam(const std::string& name, const std::string& value) {
  ScopedMutex lock(m_cmdLock);
  m_params[name] = value;
}

void CICE::SendRequest(const void* data, unsigned length, unsigned* sent, int timeoutMs) {
  ScopedMutex lock(m_cmdLock);
  m_nLastError = 0;
  RequireAdapter();
  CUsbCmd* t = SelectedTransport();
  if (!t) return;
  ++m_nExchanges;
  if (!TransportCall(m_nLastError, [&] { return t->SendPacket(data, length, sent, timeoutMs); })) {
    m_nLastError = -1;
    CloseAfterFailure();
    throw CICEException(text::kWriteError);
  }
}

void CICE::ReceiveReply(void* buffer, unsigned capacity, unsigned* length, int timeoutMs) {
  ScopedMutex lock(m_cmdLock);
  m_nLastError = 0;
  RequireAdapter();
  CUsbCmd* t = SelectedTransport();
  if (!t) return;
  if (!TransportCall(m_nLastError,
                     [&] { return t->ReceivePacket(buffer, capacity, length, timeoutMs); })) {
    m_nLastError = -1;
    CloseAfterFailure();
    throw CICEException(text::kReadError);
  }
  if (!t->GetLastReplyFlag()) return;

  // The adapter says the command failed: ask it why, straight on the
  // transport (inside the share lock of this exchange).
  uint8_t query[4];
  PutLE32(query, kCmdErrorQuery);
  uint8_t code[4] = {};
  unsigned sentBytes = 0, got = 0;
  ++m_nExchanges;
  const bool answered = TransportCall(m_nLastError, [&] {
    return t->SendPacket(query, sizeof query, &sentBytes, kDefaultTimeoutMs) &&
           t->ReceivePacket(code, sizeof code, &got, kDefaultTimeoutMs) && got >= 4;
  });
  if (answered) {
    const uint32_t c = GetLE32(code);
    m_nLastError = static_cast<int32_t>(c);
    throw CICEException(CmdErrorMessage(c));
  }
  m_nLastError = -1;
  throw CICEException(kCmdErrorUnknown);
}

void CICE::CloseAfterFailure() {
  if (m_nExchangeDepth > 0)
    m_bClosePending = true;
  else
    CloseAllAdapters();
}

CICE::ExchangeScope::~ExchangeScope() {
  if (--m_ice.m_nExchangeDepth > 0 || !m_ice.m_bClosePending) return;
  m_ice.m_bClosePending = false;
  try {
    m_ice.CloseAllAdapters();
  } catch (...) {
    // The exchange's own error is already on its way to the caller.
  }
}

CICE::AdapterLockScope::AdapterLockScope(CICE& ice) : m_lock(ice.m_cmdLock), m_exchange(ice) {
  ice.RequireAdapter();
  if (CUsbCmd* t = ice.SelectedTransport()) {
    m_pAreas = &t->GetShareAreas();
    for (UsbShareArea& a : *m_pAreas) a.LockData();
  }
}

CICE::AdapterLockScope::~AdapterLockScope() {
  // Unlocked before the exchange scope ends: closing the adapters after a
  // failure closes their share areas.
  if (m_pAreas)
    for (UsbShareArea& a : *m_pAreas) a.FlushAndUnlock();
}

void CICE::Transact(const void* request, unsigned requestLength, void* reply, unsigned capacity,
                    unsigned* replyLength, int timeoutMs, bool expectReply) {
  ScopedMutex lock(m_cmdLock);
  // No adapter at all (never found, or closed after a failed exchange): the
  // command says so. One found but none selected: the command goes nowhere.
  RequireAdapter();
  CUsbCmd* t = SelectedTransport();
  if (!t) return;
  ExchangeScope exchange(*this);
  ScopedShareLock<UsbShareArea> share(t->GetShareAreas());
  unsigned sent = 0;
  SendRequest(request, requestLength, &sent, timeoutMs);
  if (expectReply) ReceiveReply(reply, capacity, replyLength, timeoutMs);
}

void CICE::CheckEcho(const uint8_t* reply, uint32_t code, const char* message) {
  if (reply[0] != static_cast<uint8_t>(code)) throw CICEException(message);
}

void CICE::SimpleCommand(const CommandRecord& request, uint8_t* reply, unsigned capacity,
                         const char* protocolError, unsigned* replyLength, int timeoutMs) {
  ScopedMutex lock(m_cmdLock);
  unsigned got = 0;
  Transact(request.Data(), request.Size(), reply, capacity, &got, timeoutMs, true);
  if (replyLength) *replyLength = got;
  if (protocolError) CheckEcho(reply, GetLE32(request.Data()), protocolError);
}

unsigned CICE::MultiAccess(uint32_t kind, unsigned count, const uint32_t* addresses,
                           const uint32_t* values, const uint32_t* masks, uint32_t* first,
                           uint32_t* second, bool expectReply) {
  ScopedMutex lock(m_cmdLock);
  const unsigned n = std::min(count, GetMultiAccessLimit());
  CommandRecord req(kind);
  req.Byte(static_cast<uint8_t>(n)).Byte(second ? 0xFF : 0).Byte(first ? 0xFF : 0).Byte(0);
  for (unsigned i = 0; i < n; ++i) {
    req.Word(addresses[i]);
    req.Word(values ? values[i] : 0);
    req.Word(masks ? masks[i] : 0);
  }
  const unsigned length = std::min(req.Size(), kMultiAccessMaxRequest);
  uint8_t reply[kMultiAccessReplyCapacity] = {};
  unsigned got = 0;
  Transact(req.Data(), length, reply, sizeof reply, &got, kDefaultTimeoutMs, expectReply);
  for (unsigned i = 0; i < n; ++i) {
    if (first) first[i] = GetLE32(reply + 8 * i);
    if (second) second[i] = GetLE32(reply + 8 * i + 4);
  }
  return n;
}

uint32_t CICE::ReadOneWord(uint32_t kind, uint32_t address) {
  const uint32_t zero = 0, mask = 0xFFFFFFFFu;
  uint32_t value = 0;
  MultiAccess(kind, 1, &address, &zero, &mask, nullptr, &value);
  return value;
}

void CICE::WriteOneWord(uint32_t kind, uint32_t address, uint32_t value) {
  const uint32_t mask = 0;
  MultiAccess(kind, 1, &address, &value, &mask, nullptr, nullptr);
}

void CICE::MultiAccessAll(uint32_t kind, unsigned count, const uint32_t* addresses,
                          const uint32_t* values, const uint32_t* masks, uint32_t* second) {
  ScopedMutex lock(m_cmdLock);
  for (unsigned done = 0; done < count;) {
    const unsigned n = MultiAccess(kind, count - done, addresses + done,
                                   values ? values + done : nullptr,
                                   masks ? masks + done : nullptr, nullptr,
                                   second ? second + done : nullptr);
    if (n == 0) break;
    done += n;
  }
}

void CICE::ReadWords(uint32_t kind, unsigned count, const uint32_t* addresses,
                     uint32_t* values) {
  const std::vector<uint32_t> zeros(count, 0), masks(count, 0xFFFFFFFFu);
  MultiAccessAll(kind, count, addresses, zeros.data(), masks.data(), values);
}

uint32_t CICE::ResetCmdSerial(uint32_t value, uint32_t* chipId, bool* pro, uint16_t* lowHalf,
                              uint16_t* highHalf, uint32_t* extra, AdapterVersionInfo* info,
                              uint16_t* fourBytes) {
  ScopedMutex lock(m_cmdLock);
  const unsigned size = GetPayloadSize();
  std::vector<uint8_t> request(std::max(size, 8u), 0xFF);
  PutLE32(request.data() + 4, value);
  uint8_t reply[24] = {};
  unsigned got = 0;
  Transact(request.data(), size, reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  std::memset(reply, 0, sizeof reply);  // only the second answer counts
  got = 0;
  Transact(request.data(), size, reply, sizeof reply, &got, kDefaultTimeoutMs, true);

  const uint32_t version = GetLE32(reply);
  const uint32_t word1 = GetLE32(reply + 4);
  const uint32_t flags = GetLE32(reply + 8);
  const uint32_t word3 = GetLE32(reply + 12);
  const uint32_t word4 = GetLE32(reply + 16);
  m_uFirmwareVersion = version;
  m_uAdapterChipId = word1;
  if (chipId) *chipId = word1;

  const int generation = CommandGeneration();
  bool isPro = false;
  if (got >= 16) {
    isPro = flags & 1;
    m_bPro = isPro;
  }
  m_features = FirmwareFeaturesFor(generation, version, word1, m_bPro);
  const int designId = got >= 16 ? DesignIdFor(m_features, flags) : DESIGN_ID_NONE;
  const AdapterName name = AdapterNameFor(generation, designId, isPro, m_features);
  if (isPro) {
    if (lowHalf) *lowHalf = static_cast<uint16_t>(word3 & 0xFFFF);
    if (highHalf) *highHalf = static_cast<uint16_t>(word3 >> 16);
  }
  if (pro) *pro = isPro;
  if (info) {
    *info = AdapterVersionInfo{};
    info->nDesignId = designId;
    info->nCapA = name.capA;
    info->nCapB = name.capB;
    std::strncpy(info->szName, name.name, sizeof info->szName - 1);
  }
  if (extra) *extra = m_features.bHandshakeExtraWord ? word4 : 0xFFFFFFFFu;
  if (fourBytes)
    for (int i = 0; i < 4; ++i) fourBytes[i] = reply[20 + i];
  return version;
}

bool CICE::CheckUSBLink() {
  ScopedMutex lock(m_cmdLock);
  uint32_t any = 0;
  for (int i = 0; i < kPortCount; ++i) any |= m_discovery.Port(i).bFound;
  return any == 1;
}

bool CICE::CheckLink() {
  ScopedMutex lock(m_cmdLock);
  if (!AnyFound()) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      CommandRecord req(kCmdLinkCheck);
      req.Word(0);
      uint8_t reply[16] = {0xFF};
      unsigned got = 0;
      Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
      if (reply[0] == 0) return true;
    } catch (const CICEException&) {
    }
  }
  return false;
}
