// A target chip behind an emulated adapter: memory, core registers, run
// control, its flash as the adapter's flash commands see it, and the pins
// that the control channel drives. Every access returns an adapter error
// code (0 = done) that the firmware turns into a flagged reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "sim/SimConfig.h"

namespace sim {

// Adapter error codes as the error query reports them.
enum : uint32_t {
  kErrOk = 0,
  kErrReadUsb = 2,
  kErrGetReg = 4,
  kErrSetReg = 5,
  kErrRegTimeout = 6,
  kErrMcuStop = 7,
  kErrWriteFlash = 9,
  kErrReadFlash = 10,
  kErrPageErase = 11,
  kErrChipErase = 12,
  kErrUnimplemented = 13,
  kErrFlashAddress = 14,
  kErrChipId = 15,
  kErrNoDevice = 16,
};

using SimClock = std::chrono::steady_clock;

struct FlashGeometry {
  uint32_t flashBase = 0;
  uint32_t flashSize = 0;
  uint32_t pageSize = 0;
  uint32_t ramBase = 0;
  uint32_t ramSize = 0;
  uint32_t productId = 0;
};

class Target {
 public:
  virtual ~Target() = default;

  // Memory as the memory multi-access and block commands see it.
  virtual uint32_t ReadWord(uint32_t address, uint32_t& value) = 0;
  virtual uint32_t WriteWord(uint32_t address, uint32_t value) = 0;
  virtual uint32_t ReadBytes(uint32_t address, std::span<uint8_t> out) = 0;
  virtual uint32_t WriteBytes(uint32_t address, std::span<const uint8_t> data) = 0;

  virtual uint32_t ReadReg(uint32_t index, uint32_t& value) = 0;
  virtual uint32_t WriteReg(uint32_t index, uint32_t value) = 0;

  // Run control. Reset puts the chip into its reset state (the demo
  // firmware starts again) and either halts at the reset vector or runs.
  virtual void Reset(bool halt) = 0;
  virtual void Halt() = 0;
  virtual uint32_t Step() = 0;
  virtual void Run() = 0;
  virtual bool IsRunning() = 0;
  virtual uint32_t Pc() = 0;
  virtual void SetDebugAttached(bool attached) = 0;

  virtual uint32_t DebugId(uint32_t selector) = 0;

  // Flash as the adapter's programming commands see it.
  virtual FlashGeometry Geometry() const = 0;
  virtual uint32_t FlashProgram(uint32_t address, std::span<const uint8_t> data) = 0;
  virtual uint32_t FlashRead(uint32_t address, std::span<uint8_t> out) = 0;
  virtual uint32_t FlashErasePage(uint32_t address) = 0;
  virtual uint32_t FlashEraseAll() = 0;

  // Hardware breakpoint list of cores that keep it in the adapter (8051).
  virtual uint32_t SetBreakpoint(uint32_t address, uint32_t position) {
    (void)address;
    (void)position;
    return kErrUnimplemented;
  }
  virtual uint32_t ClearBreakpoint(uint32_t address) {
    (void)address;
    return kErrUnimplemented;
  }

  // Called when the adapter has answered a command (a target that paused
  // its core for the command's accesses lets it run again).
  virtual void EndCommand() {}

  // Drives an input pin from outside ("PB3", "P1.4"); level 0 or 1, or -1
  // to release it. False for an unknown pin name.
  virtual bool DrivePin(const std::string& pin, int level) = 0;

 protected:
  // Byte access through ReadWord/WriteWord, for memory that answers only
  // whole words (the debug and system registers): a partial word is read,
  // merged and written back. A failed read while writing answers kErrSetReg.
  uint32_t ReadBytesByWords(uint32_t address, std::span<uint8_t> out);
  uint32_t WriteBytesByWords(uint32_t address, std::span<const uint8_t> data);
};

// Builds the target a configuration describes; nullptr for kind "none".
std::unique_ptr<Target> MakeTarget(const TargetConfig& config);

}  // namespace sim
