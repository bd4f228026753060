// A private volink-sim for one test: started in a fresh temporary folder
// (VOLINK_SIM_DIR points there, real USB devices are left alone; named
// objects live in a folder of its own, XDG_RUNTIME_DIR), stopped and removed
// at the end; a test fails when the emulator counted protocol violations
// by then. Also a spy over an adapter class that records the
// command records it sends and the reply lengths it receives.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ice/CICE.h"
#include "ice/ICEProtocol.h"

// One adapter of each flash family (generation 0 with a first-family chip,
// 1 with a second-family chip, 2 with a third-family chip), IDs 0x7788D001
// to 0x7788D003 in their boot-loader areas.
inline constexpr const char* kOneAdapterOfEachFamily = R"({"adapters": [
  {"name": "d", "generation": 0, "adapter_id": "0x7788D001", "location": "1-1",
   "interfaces": [{"kind": "hid", "interface": 0, "size": 64}]},
  {"name": "v", "generation": 1, "adapter_id": "0x7788D002", "location": "1-2",
   "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]},
  {"name": "q", "generation": 2, "adapter_id": "0x7788D003", "location": "1-3"}]})";

class SimProcess {
 public:
  // `configJson` empty = the demo configuration; `interfaces` = how many
  // interface files to wait for.
  explicit SimProcess(const std::string& configJson = "", int interfaces = 2);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // One control command; returns the answer (last line "ok..." or "error...").
  std::string Ctl(const std::string& line);
  const std::string& Dir() const { return m_dir; }
  // Waits until `count` interface files are present.
  bool WaitForInterfaces(int count);
  // The emulator's count of protocol violations (-1 when it does not answer);
  // the destructor fails the test when it is not 0. A test that breaks the
  // wire on purpose reads it and clears it.
  long Violations();
  void ClearViolations();

 private:
  std::string m_dir;
  std::string m_oldRuntimeDir;
  std::string m_oldStateHome;
  pid_t m_pid = -1;
};

// One generation-1 adapter "a" with a single interface of `kind` and `size`
// bytes, a Cortex-M target of `cpu` (or another target kind), and firmware `version`.
std::string OneAdapterConfig(const std::string& kind, int size, uint32_t version = 7973,
                             const std::string& cpu = "m4", int generation = 1,
                             const std::string& target = "cortex-m", int designId = 1);

template <class Base>
class Spy : public Base {
 public:
  std::vector<std::vector<uint8_t>> requests;
  std::vector<unsigned> replyLengths;

  void SendRequest(const void* data, unsigned length, unsigned* sent, int timeoutMs) override {
    const auto* p = static_cast<const uint8_t*>(data);
    requests.emplace_back(p, p + length);
    Base::SendRequest(data, length, sent, timeoutMs);
  }
  void ReceiveReply(void* buffer, unsigned capacity, unsigned* length, int timeoutMs) override {
    unsigned got = 0;
    Base::ReceiveReply(buffer, capacity, &got, timeoutMs);
    if (length) *length = got;
    replyLengths.push_back(got);
  }
  void Clear() {
    requests.clear();
    replyLengths.clear();
  }
  // Command codes of the recorded requests.
  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> out;
    for (const auto& r : requests) out.push_back(r.size() >= 4 ? ice::GetLE32(r.data()) : 0);
    return out;
  }
  uint32_t Word(size_t request, size_t index) const {
    return ice::GetLE32(requests.at(request).data() + 4 * index);
  }
  CMutex2& CommandLock() { return this->m_cmdLock; }
  ice::BreakpointTable& Table() { return this->m_breakpoints; }
};

// Discovery, adapter `index` selected, handshake; with `attach`, the target
// link is configured and connected (units re-initialised).
void OpenAdapter(CICE& ice, unsigned index = 0, bool attach = true);
