// A second program of the tool family for the ownership tests.
//   ownership_child hold ID     take adapter ID (hex); prints "owned" or
//                               "refused", then waits for standard input to
//                               end and releases
//   ownership_child marker      keeps the family marker open without
//                               registering (a program outside the table);
//                               prints "ready", waits for standard input
#include <cstdio>
#include <iostream>
#include <string>

#include "ice/CICEGlobalMutex.h"

namespace {
void WaitForInputEnd() {
  for (std::string line; std::getline(std::cin, line);) {
  }
}
}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "hold" && argc == 3) {
    CICEGlobalMutex owner;
    owner.SetKey(static_cast<uint32_t>(std::stoul(argv[2], nullptr, 16)));
    owner.Acquire();
    std::cout << (owner.IsAcquired() ? "owned" : "refused") << std::endl;
    WaitForInputEnd();
    owner.Release();
    return 0;
  }
  if (cmd == "marker") {
    COneInstance marker;
    marker.SetName(std::string(CICEGlobalMutex::kMarkerBase) + CICEGlobalMutex::kMarkerSuffix);
    marker.CreateShared();
    std::cout << (marker.IsCreated() ? "ready" : "failed") << std::endl;
    WaitForInputEnd();
    return 0;
  }
  std::fprintf(stderr, "usage: ownership_child hold ID | marker\n");
  return 2;
}
