// The probe commands: the adapters found, the handshake, target memory and
// registers, run control, reset, and the adapter's own lights, boot loader
// restart and ownership.
#include <cctype>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "ice/AdapterSelection.h"
#include "ice/CICE.h"
#include "ice/CICEGlobalMutex.h"
#include "usb/ListAdapters.h"
#include "volink/Adapter.h"
#include "volink/Format.h"
#include "volink/Handlers.h"
#include "volink/Invocation.h"

using namespace ice;

namespace volink {
namespace {

constexpr uint32_t kMaxReadLength = 16u * 1024 * 1024;

// The adapter taken, with the version handshake done.
std::unique_ptr<TakenAdapter> Open(Invocation& call) {
  auto adapter = std::make_unique<TakenAdapter>(call, MakeCoreLayer(call.options.core));
  adapter->Ice().ResetCmdSerial(0xFFFFFFFF);
  return adapter;
}

// Open, the link configured and the target attached without a reset and
// without touching its breakpoint units.
std::unique_ptr<TakenAdapter> Attach(Invocation& call) {
  std::unique_ptr<TakenAdapter> adapter = Open(call);
  adapter->Ice().SetConfig(1024, 3300, true);
  adapter->Ice().MCUConnect(RESET_NONE, CONNECT_NORMAL, 1, 0);
  return adapter;
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

}  // namespace

// Every adapter of the pass with its ID and whether another program owns
// it; then the adapters whose interface another program holds open: they
// cannot be opened, so they have no number and their ID cannot be read.
int ListCommand(Invocation& call) {
  std::unique_ptr<CICE> c = MakeCoreLayer(call.options.core);
  c->DiscoverAdapters(false);
  PrintAdapters(c->Discovery(), call.out);
  const bool found = c->CheckUSBLink();
  std::vector<unsigned> index;
  const std::vector<uint32_t> ids = found ? CollectAdapterIds(*c, &index) : std::vector<uint32_t>{};
  const unsigned count = found ? c->GetDeviceCount() : 0;
  for (unsigned n = 0; n < count; ++n) {
    call.out << "adapter " << n << ": ";
    size_t i = 0;
    while (i < index.size() && index[i] != n) ++i;
    if (i == index.size()) {
      call.out << "no answer\n";
      continue;
    }
    call.out << "ID: " << Hex(ids[i]) << ", "
             << (CICEGlobalMutex::IsAdapterInUse(ids[i]) ? "owned by another program" : "free") << "\n";
  }
  for (const OpenProblem& p : c->Discovery().OpenProblems()) {
    if (p.error != usbdev::OpenError::Busy) continue;
    call.out << "adapter -: ID unknown, held by another program (" << usbdev::KindName(p.kind) << " "
             << Hex(p.vid, 4) << ":" << Hex(p.pid, 4) << ", location " << (p.locationId.empty() ? "-" : p.locationId)
             << ", serial " << (p.serial.empty() ? "-" : p.serial) << ")\n";
  }
  return found ? 0 : 1;
}

int InfoCommand(Invocation& call) {
  TakenAdapter adapter(call, MakeCoreLayer(call.options.core));
  CICE& ice = adapter.Ice();
  uint32_t chipId = 0, extra = 0;
  bool pro = false;
  uint16_t low = 0, high = 0, four[4] = {};
  AdapterVersionInfo info;
  const uint32_t version = ice.ResetCmdSerial(0xFFFFFFFF, &chipId, &pro, &low, &high, &extra, &info, four);
  std::string suffix;
  for (uint16_t c : four)
    if (c >= 0x20 && c < 0x7F) suffix += static_cast<char>(c);
  CUsbCmd& t = ice.Discovery().Transport(ice.GetSelectedSlot());
  std::ostream& out = call.out;
  out << "adapter:     " << ice.GetSelectedAdapter() << " (slot " << ice.GetSelectedSlot() << ", "
      << (t.GetTransportKind() == CUsbCmd::kTransportHid ? "HID" : "bulk") << ", packet "
      << t.GetPacketSize(false) << " bytes)\n";
  out << "generation:  " << ice.GetPortChipType() << "\n";
  out << "firmware:    " << version << suffix << "\n";
  out << "chip id:     0x" << Hex(chipId) << "\n";
  out << "design id:   " << info.nDesignId << "\n";
  out << "name:        " << (info.szName[0] ? info.szName : "(unknown)") << (pro ? " (Pro)" : "") << "\n";
  out << "extra word:  0x" << Hex(extra) << "\n";
  const int com = ice.GetComPort();
  out << "COM port:    " << (com < 0 ? std::string("none") : "/dev/ttyACM" + std::to_string(com)) << "\n";
  out << "location:    " << t.GetLocationId() << "\n";
  out << "serial:      " << t.GetSerialNumber() << "\n";
  return 0;
}

int ReadCommand(Invocation& call) {
  const uint32_t address = call.args.Number(0, 0, 0xFFFFFFFF);
  const uint32_t length = call.args.Number(1, 0, kMaxReadLength, 4);
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  std::vector<uint8_t> data(length);
  adapter->Ice().ReadMem(address, data.data(), length, true, true);
  HexDump(call.out, address, data);
  return 0;
}

int WriteCommand(Invocation& call) {
  const uint32_t address = call.args.Number(0, 0, 0xFFFFFFFF);
  std::vector<uint32_t> values;
  for (size_t i = 1; i < call.args.Count(); ++i) values.push_back(call.args.Number(i, 0, 0xFFFFFFFF));
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  CICE& c = adapter->Ice();
  if (values.size() == 1) {
    c.WriteMem32(address, values[0]);
  } else {
    std::vector<uint8_t> bytes(values.size() * 4);
    for (size_t i = 0; i < values.size(); ++i) PutLE32(bytes.data() + 4 * i, values[i]);
    c.WriteMem(address, bytes.data(), static_cast<unsigned>(bytes.size()), true);
  }
  return 0;
}

int RegsCommand(Invocation& call) {
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  CICE& ice = adapter->Ice();
  if (call.options.core == Core::Ostra8051) {
    uint32_t v[8] = {};
    ice.ReadRegs(v, 0, 8);
    for (int i = 0; i < 8; ++i) call.out << "reg" << i << "  0x" << Hex(v[i]) << "\n";
    return 0;
  }
  static constexpr const char* kNames[17] = {"r0", "r1", "r2",  "r3",  "r4",  "r5", "r6", "r7",  "r8",
                                             "r9", "r10", "r11", "r12", "sp", "lr", "pc", "xpsr"};
  uint32_t v[17] = {};
  ice.ReadRegs(v, 0, 17);
  for (int i = 0; i < 17; ++i) {
    std::string name = kNames[i];
    name.resize(5, ' ');
    call.out << name << "0x" << Hex(v[i]) << "\n";
  }
  return 0;
}

int HaltCommand(Invocation& call) {
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  call.out << "stopped at 0x" << Hex(adapter->Ice().MCUStopRun()) << "\n";
  return 0;
}

int StepCommand(Invocation& call) {
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  CICE& c = adapter->Ice();
  c.MCUStepRun();
  uint32_t pc = 0;
  if (c.CheckMCUStop(&pc))
    call.out << "stopped at 0x" << Hex(pc) << "\n";
  else
    call.out << "running\n";
  return 0;
}

int GoCommand(Invocation& call) {
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  adapter->Ice().MCUFreeRun();
  call.out << "running\n";
  return 0;
}

int StateCommand(Invocation& call) {
  std::unique_ptr<TakenAdapter> adapter = Attach(call);
  uint32_t pc = 0;
  const int state = adapter->Ice().GetMCUState(&pc, 0);
  call.out << StateName(state);
  if (state == PROCESSOR_STOP) call.out << " at 0x" << Hex(pc);
  call.out << "\n";
  return 0;
}

int ResetCommand(Invocation& call) {
  const uint32_t mode =
      call.args.Choice(0, {"auto", "hw", "sysresetreq", "vectreset", "rescue", "none", "none2"}, 0xFFFFFFFF);
  const uint32_t connect =
      call.args.Choice(1, {"normal", "pre-reset", "under-reset", "none", "disconnect", "icp"}, 0xFFFFFFFF);
  std::unique_ptr<TakenAdapter> adapter = Open(call);
  adapter->Ice().SetConfig(1024, 3300, true);
  adapter->Ice().MCUConnect(mode, connect, 0, 0);
  return 0;
}

int BlinkCommand(Invocation& call) {
  Open(call)->Ice().BlinkAdapterLeds(0xF, 150, 6);
  return 0;
}

int LoaderCommand(Invocation& call) {
  Open(call)->Ice().RestartToBootLoader();
  call.out << "restarting into the boot loader\n";
  return 0;
}

int ReadyCommand(Invocation& call) {
  const bool ready = Open(call)->Ice().IsAdapterReady();
  call.out << (ready ? "ready\n" : "not ready\n");
  return ready ? 0 : 1;
}

int HoldCommand(Invocation& call) {
  const bool timed = call.args.Has(0);
  const uint32_t seconds = call.args.Number(0, 0, 0xFFFFFFFF, 0);
  std::unique_ptr<TakenAdapter> adapter = Open(call);
  CICE& c = adapter->Ice();
  call.out << "holding adapter " << c.GetSelectedAdapter() << " (ID: " << Hex(c.ReadAdapterId()) << ")"
           << std::endl;
  if (timed) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
  } else {
    for (std::string line; std::getline(std::cin, line);) {
    }
  }
  return 0;
}

}  // namespace volink
