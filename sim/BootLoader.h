// The adapter's boot loader as it answers on its HID channel: requests are
// [command u32][packet number u32][data], replies [checksum u16][packet
// number + 1 u32][data], the checksum being the 16-bit sum of the whole
// request report. It reads and writes the configuration words, takes a new
// application image and starts it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/AdapterMcu.h"
#include "sim/SimConfig.h"

namespace sim {

class BootLoader {
 public:
  BootLoader(const AdapterConfig& config, AdapterMcu& mcu);

  enum class Exit { None, StartApplication, RestartLoader };

  // One request report (without report id). Returns the reply report, or
  // nothing for commands that are not answered.
  std::optional<std::vector<uint8_t>> Handle(std::span<const uint8_t> report);

  Exit TakeExit();
  // Reset of the loader's own state when it starts.
  void Start();
  // The APROM size the loader offers (flash size less the data flash).
  uint32_t ApromLimit() const;

 private:
  void WriteImage(std::span<const uint8_t> bytes);

  const AdapterConfig& m_config;
  AdapterMcu& m_mcu;
  Exit m_exit = Exit::None;
  uint32_t m_writeAddress = 0;
  uint32_t m_writeRemaining = 0;
  // The image header word (bytes 0xC0-0xC3) is kept back until the whole
  // image is in: an interrupted write leaves no image that would start.
  uint8_t m_header[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  bool m_headerCovered = false;
};

}  // namespace sim
