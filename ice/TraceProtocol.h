// Values the adapter reports for its trace units: the states of the event
// trace (GetEtmcState), and the modes and status bits of the serial-wire
// output (SwoMode, SwoStatus).
#pragma once

#include <cstdint>

enum : uint32_t {
  ETMC_STATE_STOP = 0,
  ETMC_STATE_RUN = 1,
  ETMC_STATE_IDLE = 2,
  ETMC_STATE_OVERFLOW = 3,
};

enum : uint32_t { SWO_MODE_OFF = 0, SWO_MODE_UART = 1, SWO_MODE_MANCH = 2 };

// Bits of the status byte of SwoStatus and SwoData.
enum : uint8_t {
  SWO_STATUS_ACTIVE = 0x01,
  SWO_STATUS_PAUSED = 0x02,
  SWO_STATUS_ERROR = 0x40,
  SWO_STATUS_OVERRUN = 0x80,
};
