#include "ice/VolinkTool.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>

#include <unistd.h>

#include "ice/AdapterAcquire.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CICE_M0.h"
#include "ice/CICE_M4.h"
#include "ice/CICE_Ostra1T.h"
#include "usb/CUsbDiscovery.h"
#include "platform/UserInteraction.h"
#include "usb/ListAdapters.h"

using namespace ice;

namespace {

constexpr const char* kUsage =
    "usage: volink [--adapter N] [--core m0|m4|8051] COMMAND [ARGS]\n"
    "  list                      adapters found by the discovery pass, their IDs and owners\n"
    "  info                      handshake: generation, firmware, chip id, design, COM port\n"
    "  read ADDR [LEN]           hex dump of LEN bytes (default 4)\n"
    "  write ADDR VALUE...       write 32-bit words from ADDR\n"
    "  regs                      core registers\n"
    "  halt | step | go | state  run control\n"
    "  reset MODE CONNECT        MODE auto|hw|sysresetreq|vectreset|rescue|none|none2 or a number,\n"
    "                            CONNECT normal|pre-reset|under-reset|none|disconnect|icp or a number\n"
    "  blink                     blink the adapter's lights\n"
    "  loader                    restart the adapter into its boot loader\n"
    "  ready                     whether the adapter's firmware reports ready\n"
    "  hold [SECONDS]            own the adapter until SECONDS pass or standard input ends\n"
    "Every command but list owns its adapter while it runs; with several adapters\n"
    "and no --adapter it asks on the terminal.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t ParseNumber(const std::string& s) {
  try {
    size_t used = 0;
    const unsigned long long v = std::stoull(s, &used, 0);
    if (used == s.size() && v <= 0xFFFFFFFFull) return static_cast<uint32_t>(v);
  } catch (const std::exception&) {
  }
  throw UsageError("not a number: " + s);
}

uint32_t ParseMode(const std::string& s, const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i)
    if (s == names[i]) return static_cast<uint32_t>(i);
  return ParseNumber(s);
}

std::string Hex(uint32_t v, int width = 8) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*x", width, v);
  return b;
}

const char* StateName(int state) {
  switch (state) {
    case PROCESSOR_STOP: return "stopped";
    case PROCESSOR_RUN: return "running";
    case PROCESSOR_IDLE: return "idle";
    case PROCESSOR_POWER_DOWN: return "power-down";
    default: return "unknown";
  }
}

void HexDump(std::ostream& out, uint32_t address, const std::vector<uint8_t>& data) {
  for (size_t row = 0; row < data.size(); row += 16) {
    std::string line = Hex(address + static_cast<uint32_t>(row)) + ":";
    std::string text;
    for (size_t i = row; i < row + 16; ++i) {
      if (i < data.size()) {
        line += " " + Hex(data[i], 2);
        text += std::isprint(data[i]) ? static_cast<char>(data[i]) : '.';
      } else {
        line += "   ";
      }
    }
    out << line << "  |" << text << "|\n";
  }
}

// The terminal's side of the adapter choice: a numbered list on standard
// error and a number read from standard input, when that is a terminal.
class TerminalInteraction : public IUserInteraction {
 public:
  explicit TerminalInteraction(std::ostream& err) : m_err(err) {}

  Answer MessageBox(const std::string&, const std::string& text, Icon, Buttons buttons, void*) override {
    m_err << text << "\n";
    return buttons == Buttons::YesNo ? Answer::No : buttons == Buttons::OkCancel ? Answer::Cancel : Answer::Ok;
  }
  int SelectBox(const std::string&, const std::vector<std::string>&, int) override { return -1; }
  void PumpEvents() override {}

  void AdapterSelectDialog(IAdapterSelectDialog& dialog) override {
    if (!::isatty(STDIN_FILENO)) {
      m_bNoTerminal = true;
      DefaultAdapterSelectDialog(dialog);
      return;
    }
    const IAdapterSelectDialog::Form& form = dialog.Initialise([] {});
    if (form.messageVisible) {
      m_err << form.message << "\n";
      dialog.Ok(-1);
      dialog.Finish();
      return;
    }
    m_err << "Several adapters are connected (volink --adapter N blink shows which is which):\n";
    int count = 0;
    for (int i = 0; i < IAdapterSelectDialog::kButtons; ++i) {
      const IAdapterSelectDialog::Button& b = form.buttons[i];
      if (!b.visible) continue;
      count = i + 1;
      m_err << "  " << i << ": " << b.text
            << (b.enabled ? "" : "  (in use by another program)") << "\n";
    }
    m_err << "adapter number (0-" << count - 1 << "): " << std::flush;
    std::string line;
    int chosen = -1;
    if (std::getline(std::cin, line)) {
      try {
        size_t used = 0;
        const int n = std::stoi(line, &used);
        if (used == line.size() && n >= 0 && n < count && form.buttons[n].enabled) chosen = n;
      } catch (const std::exception&) {
      }
    }
    if (chosen < 0) {
      m_err << "no adapter chosen\n";
      dialog.Cancel();
    } else {
      dialog.Ok(chosen);
    }
    dialog.Finish();
  }

  bool NoTerminal() const { return m_bNoTerminal; }

 private:
  std::ostream& m_err;
  bool m_bNoTerminal = false;
};

class Probe {
 public:
  // `adapter` < 0: none named on the command line.
  Probe(std::unique_ptr<CICE> ice, int adapter, bool is8051, std::ostream& err)
      : m_ui(err), m_ice(std::move(ice)), m_adapter(adapter), m_b8051(is8051) {
    m_ice->SetUserInteraction(&m_ui);
  }
  ~Probe() {
    // Every adapter closed before ownership ends.
    try {
      ice::ReleaseAdapter(*m_ice, m_owner);
    } catch (...) {
    }
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  CICE& Ice() { return *m_ice; }
  CICEGlobalMutex& Owner() { return m_owner; }

  // Discovery, selection and ownership, as every program of the family
  // takes an adapter (without the firmware check: only an update does that).
  void Select() {
    int state = ice::kSelectRetry;
    ice::AcquireAdapter(
        *m_ice, m_owner,
        [this](CICE& c, CICEGlobalMutex& owner) {
          m_strIdError.clear();
          return m_adapter >= 0 ? SelectNamed(c, owner) : ice::SelectAdapter(c, owner, &m_ui, &m_strIdError);
        },
        nullptr, state);
    if (state == ice::kSelectChosen && m_ice->CheckUSBLink()) return;
    if (state == ice::kSelectCancelled && m_ui.NoTerminal())
      throw std::runtime_error(
          "several adapters are connected; name one with --adapter N (volink list shows them)");
    if (state == ice::kSelectCancelled) throw std::runtime_error("no adapter chosen");
    if (!m_strIdError.empty()) throw CICEException(m_strIdError);  // found, but it did not answer
    RequireFound(0);
    throw CICEException("There is no Vo-Link connected to a USB port.");
  }

  // Selection and the version handshake.
  void Open() {
    Select();
    m_ice->ResetCmdSerial(0xFFFFFFFF);
  }

  // Open, configure the link and attach to the target without a reset and
  // without touching its breakpoint units.
  void Attach() {
    Open();
    m_ice->SetConfig(1024, 3300, true);
    m_ice->MCUConnect(RESET_NONE, CONNECT_NORMAL, 1, 0);
  }

  bool Is8051() const { return m_b8051; }

 private:
  // The adapter named by --adapter: its ID is the key.
  int SelectNamed(CICE& c, CICEGlobalMutex& owner) {
    const unsigned n = static_cast<unsigned>(m_adapter);
    RequireFound(n);
    if (ice::SelectAdapterNumber(c, owner, n, &m_strIdError) == ice::kSelectChosen) return ice::kSelectChosen;
    throw CICEException(m_strIdError.empty() ? "adapter " + std::to_string(n) + " does not answer" : m_strIdError);
  }

  // Throws unless adapter `n` exists. An interface that another program
  // holds hides its adapter from the pass: the numbering cannot say which
  // adapter is meant, so say that.
  void RequireFound(unsigned n) {
    const unsigned found = m_ice->CheckUSBLink() ? m_ice->GetDeviceCount() : 0;
    if (n < found) return;
    std::string busy;
    for (const OpenProblem& problem : m_ice->Discovery().OpenProblems())
      if (problem.error == usbdev::OpenError::Busy) busy += "\n  " + DescribeOpenProblem(problem);
    const std::string which = "no adapter " + std::to_string(n) + " (found " + std::to_string(found) + ")";
    if (!busy.empty())
      throw std::runtime_error(which + ": an interface is busy (held by another program)" + busy);
    if (found == 0) throw CICEException("There is no Vo-Link connected to a USB port.");
    throw UsageError(which);
  }

  TerminalInteraction m_ui;
  std::string m_strIdError;  // why an adapter did not answer its identification
  CICEGlobalMutex m_owner;  // outlives the adapter layer's handles
  std::unique_ptr<CICE> m_ice;
  int m_adapter;
  bool m_b8051;
};

// Every adapter of the pass with its ID and whether another program owns it.
int List(CICE& c, std::ostream& out) {
  c.DiscoverAdapters(false);
  PrintAdapters(c.Discovery(), out);
  if (!c.CheckUSBLink()) return 1;
  std::vector<unsigned> index;
  const std::vector<uint32_t> ids = ice::CollectAdapterIds(c, &index);
  const unsigned count = c.GetDeviceCount();
  for (unsigned n = 0; n < count; ++n) {
    out << "adapter " << n << ": ";
    size_t i = 0;
    while (i < index.size() && index[i] != n) ++i;
    if (i == index.size()) {
      out << "no answer\n";
      continue;
    }
    out << "ID: " << Hex(ids[i]) << ", "
        << (CICEGlobalMutex::IsAdapterInUse(ids[i]) ? "owned by another program" : "free") << "\n";
  }
  return 0;
}

int Info(Probe& p, std::ostream& out) {
  CICE& ice = p.Ice();
  p.Select();
  uint32_t chipId = 0, extra = 0;
  bool pro = false;
  uint16_t low = 0, high = 0, four[4] = {};
  AdapterVersionInfo info;
  const uint32_t version =
      ice.ResetCmdSerial(0xFFFFFFFF, &chipId, &pro, &low, &high, &extra, &info, four);
  std::string suffix;
  for (uint16_t c : four)
    if (c >= 0x20 && c < 0x7F) suffix += static_cast<char>(c);
  CUsbCmd& t = ice.Discovery().Transport(ice.GetSelectedSlot());
  out << "adapter:     " << ice.GetSelectedAdapter() << " (slot " << ice.GetSelectedSlot() << ", "
      << (t.GetTransportKind() == CUsbCmd::kTransportHid ? "HID" : "bulk") << ", packet "
      << t.GetPacketSize(false) << " bytes)\n";
  out << "generation:  " << ice.GetPortChipType() << "\n";
  out << "firmware:    " << version << suffix << "\n";
  out << "chip id:     0x" << Hex(chipId) << "\n";
  out << "design id:   " << info.nDesignId << "\n";
  out << "name:        " << (info.szName[0] ? info.szName : "(unknown)") << (pro ? " (Pro)" : "")
      << "\n";
  out << "extra word:  0x" << Hex(extra) << "\n";
  const int com = ice.GetComPort();
  out << "COM port:    " << (com < 0 ? std::string("none") : "/dev/ttyACM" + std::to_string(com))
      << "\n";
  out << "location:    " << t.GetLocationId() << "\n";
  out << "serial:      " << t.GetSerialNumber() << "\n";
  return 0;
}

int Regs(Probe& p, std::ostream& out) {
  p.Attach();
  CICE& ice = p.Ice();
  if (p.Is8051()) {
    uint32_t v[8] = {};
    ice.ReadRegs(v, 0, 8);
    for (int i = 0; i < 8; ++i) out << "reg" << i << "  0x" << Hex(v[i]) << "\n";
    return 0;
  }
  static constexpr const char* kNames[17] = {"r0", "r1", "r2",  "r3",  "r4", "r5", "r6",
                                             "r7", "r8", "r9",  "r10", "r11", "r12", "sp",
                                             "lr", "pc", "xpsr"};
  uint32_t v[17] = {};
  ice.ReadRegs(v, 0, 17);
  for (int i = 0; i < 17; ++i) {
    std::string name = kNames[i];
    name.resize(5, ' ');
    out << name << "0x" << Hex(v[i]) << "\n";
  }
  return 0;
}

}  // namespace

int RunVolink(const std::vector<std::string>& argsIn, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args;
  int adapter = -1;
  std::string core = "m4";
  try {
    for (size_t i = 0; i < argsIn.size(); ++i) {
      if (argsIn[i] == "--adapter" && i + 1 < argsIn.size())
        adapter = static_cast<int>(std::min<uint32_t>(ParseNumber(argsIn[++i]), 0x7FFFFFFF));
      else if (argsIn[i] == "--core" && i + 1 < argsIn.size())
        core = argsIn[++i];
      else if (argsIn[i] == "--help" || argsIn[i] == "-h") {
        out << kUsage;
        return 0;
      } else
        args.push_back(argsIn[i]);
    }
    if (args.empty()) throw UsageError("no command");
    std::unique_ptr<CICE> ice;
    if (core == "m0")
      ice = std::make_unique<CICE_M0>();
    else if (core == "m4")
      ice = std::make_unique<CICE_M4>();
    else if (core == "8051")
      ice = std::make_unique<CICE_Ostra1T>();
    else
      throw UsageError("unknown core: " + core);
    Probe p(std::move(ice), adapter, core == "8051", err);
    CICE& c = p.Ice();
    const std::string& cmd = args[0];
    const size_t argc = args.size() - 1;

    if (cmd == "list" && argc == 0) return List(c, out);
    if (cmd == "info" && argc == 0) return Info(p, out);
    if (cmd == "read" && (argc == 1 || argc == 2)) {
      const uint32_t address = ParseNumber(args[1]);
      const uint32_t length = argc == 2 ? ParseNumber(args[2]) : 4;
      if (length > 16u * 1024 * 1024) throw UsageError("length too large");
      p.Attach();
      std::vector<uint8_t> data(length);
      c.ReadMem(address, data.data(), length, true, true);
      HexDump(out, address, data);
      return 0;
    }
    if (cmd == "write" && argc >= 2) {
      const uint32_t address = ParseNumber(args[1]);
      std::vector<uint32_t> values;
      for (size_t i = 2; i < args.size(); ++i) values.push_back(ParseNumber(args[i]));
      p.Attach();
      if (values.size() == 1) {
        c.WriteMem32(address, values[0]);
      } else {
        std::vector<uint8_t> bytes(values.size() * 4);
        for (size_t i = 0; i < values.size(); ++i) PutLE32(bytes.data() + 4 * i, values[i]);
        c.WriteMem(address, bytes.data(), static_cast<unsigned>(bytes.size()), true);
      }
      return 0;
    }
    if (cmd == "regs" && argc == 0) return Regs(p, out);
    if (cmd == "halt" && argc == 0) {
      p.Attach();
      out << "stopped at 0x" << Hex(c.MCUStopRun()) << "\n";
      return 0;
    }
    if (cmd == "step" && argc == 0) {
      p.Attach();
      c.MCUStepRun();
      uint32_t pc = 0;
      if (c.CheckMCUStop(&pc))
        out << "stopped at 0x" << Hex(pc) << "\n";
      else
        out << "running\n";
      return 0;
    }
    if (cmd == "go" && argc == 0) {
      p.Attach();
      c.MCUFreeRun();
      out << "running\n";
      return 0;
    }
    if (cmd == "state" && argc == 0) {
      p.Attach();
      uint32_t pc = 0;
      const int state = c.GetMCUState(&pc, 0);
      out << StateName(state);
      if (state == PROCESSOR_STOP) out << " at 0x" << Hex(pc);
      out << "\n";
      return 0;
    }
    if (cmd == "reset" && argc == 2) {
      const uint32_t mode = ParseMode(
          args[1], {"auto", "hw", "sysresetreq", "vectreset", "rescue", "none", "none2"});
      const uint32_t connect = ParseMode(
          args[2], {"normal", "pre-reset", "under-reset", "none", "disconnect", "icp"});
      p.Open();
      c.SetConfig(1024, 3300, true);
      c.MCUConnect(mode, connect, 0, 0);
      return 0;
    }
    if (cmd == "blink" && argc == 0) {
      p.Open();
      c.BlinkAdapterLeds(0xF, 150, 6);
      return 0;
    }
    if (cmd == "loader" && argc == 0) {
      p.Open();
      c.RestartToBootLoader();
      out << "restarting into the boot loader\n";
      return 0;
    }
    if (cmd == "ready" && argc == 0) {
      p.Open();
      const bool ready = c.IsAdapterReady();
      out << (ready ? "ready\n" : "not ready\n");
      return ready ? 0 : 1;
    }
    if (cmd == "hold" && argc <= 1) {
      const uint32_t seconds = argc == 1 ? ParseNumber(args[1]) : 0;
      p.Open();
      out << "holding adapter " << c.GetSelectedAdapter() << " (ID: " << Hex(c.ReadAdapterId()) << ")"
          << std::endl;
      if (argc == 1) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
      } else {
        for (std::string line; std::getline(std::cin, line);) {
        }
      }
      return 0;
    }
    throw UsageError("unknown command or wrong arguments: " + cmd);
  } catch (const UsageError& e) {
    err << "volink: " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const CICEException& e) {
    err << e.GetMessage() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "volink: " << e.what() << "\n";
    return 1;
  }
}
