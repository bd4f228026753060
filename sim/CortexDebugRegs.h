// Addresses and bits of the Cortex-M debug and system registers that the
// emulated targets model: both the core model and the QEMU-run target
// present these to the adapter.
#pragma once

#include <cstdint>

namespace sim::cortex_regs {

constexpr uint32_t kCpuId = 0xE000ED00;
constexpr uint32_t kAircr = 0xE000ED0C;
constexpr uint32_t kDfsr = 0xE000ED30;
constexpr uint32_t kDhcsr = 0xE000EDF0;
constexpr uint32_t kDcrsr = 0xE000EDF4;
constexpr uint32_t kDcrdr = 0xE000EDF8;
constexpr uint32_t kDemcr = 0xE000EDFC;
constexpr uint32_t kSysTickCvr = 0xE000E018;
constexpr uint32_t kFpCtrl = 0xE0002000;
constexpr uint32_t kDwtCtrl = 0xE0001000;
constexpr uint32_t kDwtCyccnt = 0xE0001004;

constexpr uint32_t kMatched = 1u << 24;  // a watchpoint comparator's MATCHED bit

}  // namespace sim::cortex_regs
