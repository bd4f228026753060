// A program of the tool family that keeps running while the tests plug and
// unplug its adapter. One command a line on standard input, one answer line
// ("ok ..." or "error: MESSAGE") on standard output:
//   open N               discovery, adapter N, ownership, handshake, attach
//   read ADDR LEN        streamed read; "ok HASH" (64-bit FNV-1a, hex)
//   write ADDR LEN SEED  streamed write of Pattern(SEED)
//   cpu                  "ok MICROSECONDS" of user and system time so far
//   close                closes the adapter and gives up ownership
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TransportPattern.h"
#include "ice/AdapterAcquire.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEException.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CICE_M4.h"

namespace {

class Session {
 public:
  std::string Open(unsigned n) {
    Close();
    ice::SelectResult state = ice::SelectResult::Retry;
    ice::AcquireAdapter(
        m_ice, m_owner,
        [n](CICE& c, CICEGlobalMutex& owner) {
          std::vector<unsigned> index;
          const std::vector<uint32_t> ids = ice::CollectAdapterIds(c, &index);
          for (size_t i = 0; i < ids.size(); ++i) {
            if (index[i] != n) continue;
            ice::SelectAdapterIndex(c, n);
            owner.SetKey(ids[i]);
            return ice::SelectResult::Chosen;
          }
          owner.ClearKey();
          throw CICEException("adapter " + std::to_string(n) + " not found");
        },
        nullptr, state);
    if (state != ice::SelectResult::Chosen) throw CICEException("no adapter chosen");
    m_ice.ResetCmdSerial(0xFFFFFFFF);
    m_ice.SetConfig(1024, 3300, true);
    m_ice.MCUConnect(ice::RESET_NONE, ice::CONNECT_NORMAL, 1, 0);
    return "ok";
  }
  std::string Read(uint32_t address, uint32_t length) {
    std::vector<uint8_t> data(length);
    m_ice.ReadMem(address, data.data(), length, true, true);
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(transporttest::Fnv1a(data)));
    return std::string("ok ") + hex;
  }
  std::string Write(uint32_t address, uint32_t length, uint32_t seed) {
    const std::vector<uint8_t> data = transporttest::Pattern(length, seed);
    m_ice.WriteMem(address, data.data(), length, true);
    return "ok";
  }
  void Close() { ice::ReleaseAdapter(m_ice, m_owner); }

 private:
  CICEGlobalMutex m_owner;
  CICE_M4 m_ice;
};

std::string CpuMicroseconds() {
  struct rusage u {};
  ::getrusage(RUSAGE_SELF, &u);
  const long long us = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
                       u.ru_stime.tv_usec;
  return "ok " + std::to_string(us);
}

}  // namespace

int main() {
  auto session = std::make_unique<Session>();
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    std::string answer;
    try {
      unsigned long a = 0, b = 0, c = 0;
      if (cmd == "open" && (in >> a)) answer = session->Open(static_cast<unsigned>(a));
      else if (cmd == "read" && (in >> std::hex >> a >> std::dec >> b))
        answer = session->Read(static_cast<uint32_t>(a), static_cast<uint32_t>(b));
      else if (cmd == "write" && (in >> std::hex >> a >> std::dec >> b >> c))
        answer = session->Write(static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c));
      else if (cmd == "cpu") answer = CpuMicroseconds();
      else if (cmd == "close") session->Close(), answer = "ok";
      else answer = "error: bad command";
    } catch (const CICEException& e) {
      answer = std::string("error: ") + e.GetMessage();
    } catch (const std::exception& e) {
      answer = std::string("error: ") + e.what();
    }
    std::cout << answer << std::endl;
  }
  session->Close();
  return 0;
}
