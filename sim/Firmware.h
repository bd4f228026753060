// The adapter's application firmware: takes the payload of one command
// packet and produces the reply payloads (with the reply flag) that the
// adapter sends back with the request's sequence number. Every command of
// the adapter protocol is here; memory and run control go to the target,
// adapter memory and registers to the adapter's own MCU.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "sim/AdapterMcu.h"
#include "sim/SimConfig.h"
#include "sim/Target.h"

namespace sim {

struct Reply {
  std::vector<uint8_t> payload;
  bool flag = false;
};

class Firmware {
 public:
  Firmware(const AdapterConfig& config, AdapterMcu& mcu, Target* target);

  // Reads the version and suffix from the application image in the MCU's
  // flash, as the firmware does when it starts.
  void Boot();

  // One request payload received over an interface of `packetSize` bytes.
  std::vector<Reply> Handle(std::span<const uint8_t> request, size_t packetSize);

  // A command refused on purpose (fault injection): flagged, error code kept.
  // A streamed write is refused as a whole, in the reply after its last packet.
  std::vector<Reply> Refuse(std::span<const uint8_t> request, size_t packetSize, uint32_t code);

  uint32_t Version() const { return m_version; }
  bool StreamWriteActive() const { return m_streamRemaining > 0; }

  // A USB reset (plugging in): a transfer in progress is abandoned.
  void AbortTransfer() { m_streamRemaining = 0; }

  void SetTargetPresent(bool present);
  void SetBridgeInput(int channel, int level);

 private:
  struct Ctx {
    std::span<const uint8_t> req;
    size_t payloadSize;  // largest payload of a packet
    size_t wordPayload;  // payload rounded down to whole words
    uint32_t Arg(size_t i) const;  // u32 after the code (i = 0 is offset 4)
  };

  Ctx MakeCtx(std::span<const uint8_t> request, size_t packetSize) const;
  std::vector<Reply> Dispatch(uint32_t code, const Ctx& c);
  Reply Echo(uint32_t code, size_t length, std::initializer_list<uint32_t> words = {});
  Reply Fail(uint32_t code);
  uint32_t NeedTarget(bool connected);

  Reply Handshake(const Ctx& c);
  Reply MultiAccess(uint32_t kind, const Ctx& c);
  Reply ReadBlock(const Ctx& c);
  Reply WriteBlock(const Ctx& c);
  std::vector<Reply> StreamRead(const Ctx& c);
  // `refusal`: the error code the whole transfer fails with.
  std::vector<Reply> StreamWrite(const Ctx& c, std::optional<uint32_t> refusal = std::nullopt);
  Reply RegisterDump(const Ctx& c);
  Reply WriteAllRegisters(const Ctx& c);
  Reply McuReset(const Ctx& c);
  Reply RunControl(uint32_t code);
  Reply Configure(const Ctx& c);
  Reply FlashCommand(uint32_t code, const Ctx& c);
  Reply Bridge(uint32_t code, const Ctx& c);
  Reply Swo(uint32_t code, const Ctx& c);
  Reply Etm(uint32_t code, const Ctx& c);

  const AdapterConfig& m_config;
  AdapterMcu& m_mcu;
  Target* m_target;
  uint32_t m_version = 0;
  std::string m_suffix;
  uint32_t m_lastError = 0;
  bool m_targetPresent = true;
  bool m_connected = false;
  // streamed write in progress
  uint32_t m_streamAddress = 0;
  uint32_t m_streamRemaining = 0;
  uint8_t m_streamNext = 0;
  std::optional<uint32_t> m_streamError;  // the code the transfer fails with
  // bridge, serial-wire output and trace
  uint32_t m_bridgeMode = 0;
  std::array<std::array<uint8_t, 12>, 16> m_bridgeRecords{};
  std::array<int, 2> m_bridgeInputs{{1, 0}};
  bool m_swoTransport = false, m_swoControl = false;
  uint8_t m_swoMode = 0;
  SimClock::time_point m_swoSince = SimClock::now();
  uint32_t m_swoCounter = 0;
  std::vector<uint8_t> m_swoPending;
  uint32_t m_etmState = 0;
};

}  // namespace sim
