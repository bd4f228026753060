#include "sim/Adapter.h"

#include "sim/Commands.h"
#include "sim/Images.h"
#include "usb/PacketFraming.h"

namespace sim {

Adapter::Adapter(AdapterConfig config)
    : m_config(std::move(config)),
      m_mcu(m_config),
      m_target(MakeTarget(m_config.target)),
      m_firmware(m_config, m_mcu, m_target.get()),
      m_loader(m_config, m_mcu),
      m_plugged(m_config.plugged) {}

std::vector<InterfaceConfig> Adapter::Interfaces() const {
  if (m_mode == Mode::Application) return m_config.interfaces;
  InterfaceConfig loader;
  loader.kind = "hid";
  loader.pid = m_config.loaderPid;
  loader.number = 0;
  loader.size = m_config.loaderReportSize;
  return {loader};
}

std::chrono::microseconds Adapter::TransferTime(const InterfaceConfig& iface) {
  using std::chrono::microseconds;
  if (iface.kind == "hid") return microseconds(1000 * ((iface.size + 63) / 64));  // one report a frame
  if (iface.size > 64) return microseconds(125);                                 // high-speed bulk
  return microseconds(50);                                                        // full-speed bulk
}

bool Adapter::TakeRestart() {
  const bool r = m_restartPending;
  m_restartPending = false;
  return r;
}

void Adapter::RestartInto(Mode mode) {
  m_mode = mode;
  m_mcu.OnRestart();
  if (mode == Mode::Application) m_firmware.Boot();
  else m_loader.Start();
}

void Adapter::PowerOn(bool holdLoaderKey) {
  const bool appValid = images::ReadAppInfo(m_mcu.Aprom()).valid;
  RestartInto(holdLoaderKey || !appValid ? Mode::Loader : Mode::Application);
}

Actions Adapter::OnMessage(size_t iface, std::span<const uint8_t> message) {
  const auto ifaces = Interfaces();
  if (iface >= ifaces.size()) return {};
  if (m_mode == Mode::Loader) return OnLoader(message);
  return OnCommand(ifaces[iface], message);
}

Actions Adapter::OnLoader(std::span<const uint8_t> message) {
  Actions a;
  auto reply = m_loader.Handle(message);
  if (reply) a.messages.push_back({std::move(*reply), {}});
  switch (m_loader.TakeExit()) {
    case BootLoader::Exit::StartApplication:
      // Only a valid application image starts; otherwise the loader stays.
      if (images::ReadAppInfo(m_mcu.Aprom()).valid) {
        m_mode = Mode::Application;
        m_restartPending = true;
      }
      break;
    case BootLoader::Exit::RestartLoader: m_restartPending = true; break;
    case BootLoader::Exit::None: break;
  }
  if (m_restartPending) RestartInto(m_mode);
  return a;
}

Actions Adapter::OnCommand(const InterfaceConfig& iface, std::span<const uint8_t> message) {
  Actions a;
  const int headerMode = m_config.generation == 0 ? 0 : 1;
  framing::Parsed p;
  if (!framing::ParsePacket(message, headerMode, p)) return a;
  const auto payload = message.subspan(p.offset, p.length);
  const uint32_t code = payload.size() >= 4 ? framing::GetLE32(payload.data()) : 0;
  const bool continuation = code == Code(Cmd::StreamWrite) && m_firmware.StreamWriteActive();

  std::vector<Reply> replies;
  if (m_faults.flagCount > 0 && code != Code(Cmd::ErrorQuery) && !continuation) {
    --m_faults.flagCount;
    replies = m_firmware.Refuse(payload, iface.size, m_faults.flagCode);
  } else {
    replies = m_firmware.Handle(payload, iface.size);
  }
  if (code == Code(Cmd::ErrorQuery) && m_faults.errorQueryFailCount > 0) {
    --m_faults.errorQueryFailCount;
    replies.clear();
  }
  if (!replies.empty() && m_faults.dropCount > 0) {
    --m_faults.dropCount;
    replies.clear();
  }
  // Unplug fault: on the first command that answers or that opens a streamed write.
  if (m_faults.unplugMidTransfer && (!replies.empty() || m_firmware.StreamWriteActive())) {
    m_faults.unplugMidTransfer = false;
    if (replies.size() > 1) replies.resize(1);  // the first packet of a streamed read gets out
    else replies.clear();
    a.unplug = true;
  }

  const auto frame = [&](const Reply& r, uint8_t seq) {
    std::vector<uint8_t> packet(iface.size);
    framing::FramePacket(packet, headerMode, static_cast<uint8_t>(seq | (r.flag ? framing::kReplyFlag : 0)),
                         r.payload);
    return packet;
  };
  std::chrono::microseconds delay{0};
  if (!replies.empty() && m_faults.delayCount > 0) {
    --m_faults.delayCount;
    delay = std::chrono::milliseconds(m_faults.delayMs);
  }
  if (!replies.empty() && m_faults.staleCount > 0) {
    --m_faults.staleCount;
    Reply stale{std::vector<uint8_t>(replies.front().payload.size(), 0xEE), false};
    a.messages.push_back({frame(stale, static_cast<uint8_t>((p.seq + 0x7F) & framing::kSeqMask)), delay});
  }
  for (const Reply& r : replies) a.messages.push_back({frame(r, p.seq), delay});

  switch (m_mcu.TakeRestart()) {
    case AdapterMcu::Restart::ToLoader:
      RestartInto(Mode::Loader);
      m_restartPending = true;
      break;
    case AdapterMcu::Restart::Application:
      RestartInto(Mode::Application);
      m_restartPending = true;
      break;
    case AdapterMcu::Restart::None: break;
  }
  return a;
}

}  // namespace sim
