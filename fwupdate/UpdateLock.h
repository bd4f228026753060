// One firmware update per adapter at a time, across processes: named locks
// keyed by the adapter ID and by the adapter's USB location (where its boot
// loader appears while no ID can be read), held for the whole update.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class COneInstance2;

namespace fwupdate {

inline constexpr const char* kUpdateRunning = "An update of this Vo-Link's firmware is running in another program.";

class CUpdateLock {
 public:
  CUpdateLock();
  ~CUpdateLock();
  CUpdateLock(const CUpdateLock&) = delete;
  CUpdateLock& operator=(const CUpdateLock&) = delete;

  // Takes the locks of `id` and of `location` (an empty location: the one
  // lock of a boot loader found without one) that this object does not hold
  // yet, without waiting. False when another process holds one of them;
  // what was taken in this call is given up again.
  bool Take(std::optional<uint32_t> id, const std::string& location);

 private:
  struct Held;
  std::vector<std::unique_ptr<Held>> m_held;
};

}  // namespace fwupdate
