// Helper process for the cross-process tests of the named objects.
//   count NAME N   N increments of a shared counter
//   hold BASE      locks a named mutex, prints "locked", holds it until stdin ends
//   try BASE       CreateAndLock(0); prints "locked" or "busy"
//   race NAME      waits for a byte on stdin, opens the record and adds 1,
//                  prints "done", keeps it open until stdin ends
//   marker NAME    opens the presence marker NAME, prints "open", keeps it
//                  until stdin ends
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/COneInstance.h"
#include "platform/COneInstance2.h"
#include "platform/ShareArea.h"

struct Counter {
  uint32_t value;
};

static void WaitForEndOfInput() {
  char c;
  while (read(0, &c, 1) > 0) {
  }
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string cmd = argv[1];
  if (cmd == "count" && argc == 4) {
    ShareArea<Counter> area;
    area.SetName(argv[2]);
    area.Open();
    const long n = std::strtol(argv[3], nullptr, 10);
    for (long i = 0; i < n; ++i) {
      Counter* c = area.LockData();
      const uint32_t v = c->value;
      if (i % 64 == 0) sched_yield();  // widen the window a lost update needs
      c->value = v + 1;
      area.FlushAndUnlock();
    }
    return 0;
  }
  if (cmd == "marker") {
    COneInstance marker;
    marker.SetName(argv[2]);
    marker.CreateShared();
    std::printf("%s\n", marker.IsCreated() ? "open" : "failed");
    std::fflush(stdout);
    WaitForEndOfInput();
    return 0;
  }
  if (cmd == "hold") {
    COneInstance2 m;
    m.SetName(argv[2]);
    m.CreateAndLock(-1);
    std::printf("%s\n", m.IsLocked() ? "locked" : "failed");
    std::fflush(stdout);
    WaitForEndOfInput();
    m.UnlockAndClose();
    return 0;
  }
  if (cmd == "try") {
    COneInstance2 m;
    m.SetName(argv[2]);
    m.CreateAndLock(0);
    const bool locked = m.IsLocked();
    std::printf("%s\n", locked ? "locked" : "busy");
    std::fflush(stdout);
    if (locked) m.UnlockAndClose();
    return locked ? 0 : 1;
  }
  if (cmd == "race") {
    char go;
    if (read(0, &go, 1) != 1) return 2;
    ShareArea<Counter> area;
    area.SetName(argv[2]);
    area.Open();
    Counter* c = area.LockData();
    c->value += 1;
    area.FlushAndUnlock();
    std::printf("done\n");
    std::fflush(stdout);
    WaitForEndOfInput();
    return 0;
  }
  return 2;
}
