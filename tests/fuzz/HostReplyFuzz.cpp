// libFuzzer target for the host's side of the adapter wire: the command
// layer runs handshakes, block and streamed transfers, multi-access, register
// dumps and trace reads against a device whose replies the fuzzer makes up
// (the right sequence number or another, the failure flag, any length field,
// short transfers, any payload). Every outcome must be a result or a
// CICEException; nothing may crash, overrun a buffer or wait.
//
// Input: byte 0 picks the adapter (first generation HID 64, second
// generation HID 64 or HID 1024); then operation bytes and reply bytes are
// drawn from the same stream as the host asks for them.
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ice/CICEException.h"
#include "ice/CICE_M4.h"
#include "usb/DeviceAccess.h"

namespace {

struct Input {
  const uint8_t* p;
  size_t left;
  bool Empty() const { return left == 0; }
  uint8_t Byte() {
    if (!left) return 0;
    --left;
    return *p++;
  }
  uint32_t Word() { return Byte() | Byte() << 8 | Byte() << 16 | static_cast<uint32_t>(Byte()) << 24; }
};

class FuzzDevice : public usbdev::IDevice {
 public:
  FuzzDevice(Input& in, uint16_t size) : m_in(in), m_size(size) {}
  bool Read(uint8_t* buf, size_t len, size_t* got, int) override {
    if (got) *got = 0;
    if (m_in.Empty()) return false;  // a time-out, without the wait
    const uint8_t ctrl = m_in.Byte();
    std::memset(buf, 0, len);
    // How much of the packet arrives: the whole packet, or a count from the input.
    size_t n = (ctrl & 4) ? len : ((m_in.Byte() << 8 | m_in.Byte()) % (len + 1));
    if (n > 0) {
      buf[0] = static_cast<uint8_t>(((ctrl & 1) ? m_lastSeq : m_in.Byte()) | ((ctrl & 2) ? 0x80 : 0));
      for (size_t i = 1; i < n && !m_in.Empty(); ++i) buf[i] = m_in.Byte();
    }
    if (got) *got = n;
    return true;
  }
  bool Write(const uint8_t* buf, size_t len, size_t* sent, int) override {
    if (len) m_lastSeq = buf[0] & 0x7F;
    if (sent) *sent = len;
    return !m_in.Empty();
  }
  bool GetReportSizes(uint16_t* in, uint16_t* out) override {
    *in = *out = m_size;
    return true;
  }

 private:
  Input& m_in;
  uint16_t m_size;
  uint8_t m_lastSeq = 0;
};

class FuzzAccess : public usbdev::IDeviceAccess {
 public:
  FuzzAccess(Input& in, uint16_t pid, uint16_t size) : m_in(in), m_pid(pid), m_size(size) {}
  std::vector<usbdev::DeviceInfo> Enumerate(usbdev::Kind kind) override {
    if (kind != usbdev::Kind::Hid) return {};
    usbdev::DeviceInfo d;
    d.kind = kind;
    d.backend = "fuzz";
    d.path = "fuzz/usb#vid_0416&pid_" + std::to_string(m_pid) + "&mi_03";
    d.vid = 0x0416;
    d.pid = m_pid;
    d.interfaceNumber = 3;
    d.inSize = d.outSize = m_size;
    return {d};
  }
  std::unique_ptr<usbdev::IDevice> Open(const usbdev::DeviceInfo&, usbdev::OpenResult* result) override {
    if (result) *result = {};
    return std::make_unique<FuzzDevice>(m_in, m_size);
  }

 private:
  Input& m_in;
  uint16_t m_pid, m_size;
};

void Operate(CICE& ice, Input& in) {
  std::vector<uint8_t> buf(8192);
  uint32_t words[128] = {};
  switch (in.Byte() % 12) {
    case 0: {
      uint32_t chip = 0, extra = 0;
      uint16_t lo = 0, hi = 0, four[4] = {};
      bool pro = false;
      AdapterVersionInfo info{};
      ice.ResetCmdSerial(0xFFFFFFFF, &chip, &pro, &lo, &hi, &extra, &info, four);
      break;
    }
    case 1: ice.CheckLink(); break;
    case 2: ice.ReadMem(in.Word(), buf.data(), (in.Byte() << 8 | in.Byte()) % 4096, in.Byte() & 1, true); break;
    case 3: ice.WriteMem(in.Word(), buf.data(), (in.Byte() << 8 | in.Byte()) % 4096, in.Byte() & 1); break;
    case 4: ice.ReadMem32(in.Word(), in.Byte() & 1); break;
    case 5: ice.ReadICEReg(in.Word()); break;
    case 6: {
      const unsigned n = in.Byte() % 128;
      ice.ReadMemMulti(n, words, words);
      break;
    }
    case 7: {
      unsigned len = 0;
      ice.SwoData(&len, buf.data(), 1024);
      if (len > 1024) abort();
      break;
    }
    case 8: ice.ReadRegs(words, in.Byte(), in.Byte() % 64); break;
    case 9: ice.ReadBlock(in.Word(), in.Byte() % 1100, buf.data(), in.Byte() & 1); break;
    case 10: {
      uint32_t pc = 0;
      ice.GetMCUState(&pc, in.Byte() & 1);
      break;
    }
    default: ice.ReadFlash(in.Word(), buf.data(), in.Byte() % 1100); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Named objects and no real devices: a private folder for this process,
  // in memory (every selection opens and closes its share area's files).
  char tmpl[] = "/dev/shm/gadrel-fuzz-XXXXXX";
  if (const char* dir = ::mkdtemp(tmpl)) ::setenv("XDG_RUNTIME_DIR", dir, 1);
  ::setenv("GADREL_USB_REAL", "0", 1);
  ::unsetenv("VOLINK_SIM_DIR");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  static const struct { uint16_t pid, size; } kAdapters[] = {{0x511B, 64}, {0x5200, 64}, {0x5200, 1024}};
  const auto& a = kAdapters[in.Byte() % 3];
  usbdev::SetBackendsForTesting({std::make_shared<FuzzAccess>(in, a.pid, a.size)});
  {
    CICE_M4 ice;
    int discoveries = 0;  // each one opens and maps the share areas anew: costly
    for (int round = 0; round < 48 && !in.Empty(); ++round) {
      try {
        if (!ice.CheckUSBLink()) {
          if (++discoveries > 3) break;
          ice.DiscoverAdapters(false);
          if (!ice.CheckUSBLink()) break;
          ice.SelectAdapter(0);
        }
        Operate(ice, in);
      } catch (const CICEException&) {
        // a refused command, a failed exchange or an adapter that went away
      }
    }
  }
  usbdev::SetBackendsForTesting({});
  return 0;
}
