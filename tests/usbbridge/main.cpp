// usb-bridge: mirrors a volink-sim folder into a umockdev testbed.
//
//   usb-bridge SIMDIR [--deny ADAPTER]...
//
// Prints "root DIR" (the testbed, for UMOCKDEV_DIR of the programs run under
// the umockdev preload), then one line per mirrored plug ("added 1-4.2
// /dev/hidraw0 /dev/bus/usb/001/003") and unplug ("removed 1-4.2"). Runs
// until SIGTERM, SIGINT or the end of standard input. --deny makes the nodes
// of that adapter unopenable (mode 0), as a missing udev rule does.
#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Bridge.h"

namespace {

// The testbed API resolves its own /sys paths through the umockdev preload,
// so the bridge runs under it too: without it, it starts itself again with it.
void RunUnderPreload(char** argv) {
  if (g_getenv("USB_BRIDGE_PRELOADED")) return;
  g_setenv("USB_BRIDGE_PRELOADED", "1", TRUE);
  const char* old = g_getenv("LD_PRELOAD");
  std::string preload = "libumockdev-preload.so.0";
  if (old && *old) preload += std::string(" ") + old;
  g_setenv("LD_PRELOAD", preload.c_str(), TRUE);
  // A sanitized build wants its runtime first; the order does not matter here.
  const char* asan = g_getenv("ASAN_OPTIONS");
  std::string options = "verify_asan_link_order=0";
  if (asan && *asan) options += std::string(":") + asan;
  g_setenv("ASAN_OPTIONS", options.c_str(), TRUE);
  ::execv("/proc/self/exe", argv);
  std::perror("usb-bridge: exec");
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderPreload(argv);
  if (argc < 2) {
    std::cerr << "usage: usb-bridge SIMDIR [--deny ADAPTER]...\n";
    return 2;
  }
  std::set<std::string> denied;
  for (int i = 2; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--deny") denied.insert(argv[i + 1]);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  {
    usbbridge::Bridge bridge(argv[1], denied);
    std::cout << "root " << bridge.RootDir() << std::endl;
    bridge.Scan();
    g_timeout_add(
        50, [](gpointer b) -> gboolean { static_cast<usbbridge::Bridge*>(b)->Scan();
          return gboolean{G_SOURCE_CONTINUE}; },
        &bridge);
    g_timeout_add(
        100, [](gpointer b) -> gboolean { static_cast<usbbridge::Bridge*>(b)->Sweep();
          return gboolean{G_SOURCE_CONTINUE}; },
        &bridge);
    auto quit = [](gpointer l) -> gboolean {
      g_main_loop_quit(static_cast<GMainLoop*>(l));
      return gboolean{G_SOURCE_REMOVE};
    };
    g_unix_signal_add(SIGTERM, quit, loop);
    g_unix_signal_add(SIGINT, quit, loop);
    g_unix_fd_add(
        0, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](gint fd, GIOCondition, gpointer l) -> gboolean {
          char b[256];
          if (::read(fd, b, sizeof b) > 0) return G_SOURCE_CONTINUE;
          g_main_loop_quit(static_cast<GMainLoop*>(l));
          return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
  }
  g_main_loop_unref(loop);
  return 0;
}
