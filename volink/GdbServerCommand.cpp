// volink gdbserver: gdb served on the adapter, taken as every command takes
// it, until Ctrl+C.
#include <stdexcept>
#include <string>

#include "gdbserver/CortexGdbTarget.h"
#include "gdbserver/GdbServe.h"
#include "gdbserver/GdbServer.h"
#include "ice/CICE.h"
#include "ice/ICEProtocol.h"
#include "volink/Adapter.h"
#include "volink/Arguments.h"
#include "volink/Handlers.h"
#include "volink/Invocation.h"

namespace volink {

int GdbServerCommand(Invocation& call) {
  if (call.options.core == Core::Ostra8051) throw std::runtime_error(gdb::CortexGdbTarget::kNotCortexM);
  const auto port = static_cast<uint16_t>(call.args.OptionNumber("--port", 0, 65535, gdb::GdbServer::kDefaultPort));
  const std::string address = call.args.Option("--listen").value_or(gdb::GdbServer::kDefaultAddress);
  TakenAdapter adapter(call, MakeCoreLayer(call.options.core));
  CICE& ice = adapter.Ice();
  // Attached without a reset; the server sets the debug units up itself.
  ice.ResetCmdSerial(0xFFFFFFFF);
  ice.SetConfig(1024, 3300, true);
  ice.MCUConnect(ice::RESET_NONE, ice::CONNECT_NORMAL, 1, 0);
  return gdb::ServeUntilSignalled(ice, address, port, call.out, call.err);
}

}  // namespace volink
