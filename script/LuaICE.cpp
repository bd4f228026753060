#include "script/LuaICE.h"

#include <array>
#include <cstdio>
#include <iterator>

#include "ice/CICE.h"
#include "ice/TraceProtocol.h"
#include "usb/CUsbDiscovery.h"

#include <lua.hpp>

namespace {

// Which adapter objects carry a method.
enum Carriers : unsigned { kIce = 1, kUser = 2 };

struct AdapterMethod {
  ScriptMethod method;
  unsigned carriers;
};

#define ICE_METHOD(Member, carriers, args, results, description) \
  AdapterMethod { SCRIPT_METHOD(CLuaICE, Member, args, results, description), carriers }

// Every method of the adapter objects, once. Each object lists the methods it
// carries in this order, which is also the order of ice's help listing.
constexpr AdapterMethod kAdapterMethods[] = {
    ICE_METHOD(GetVersion, kIce, "", "lower bound, tool version, revision suffix",
               "The firmware versions the tool carries: the lowest adapter firmware it accepts "
               "without an update, its own firmware version and that version's revision suffix."),
    ICE_METHOD(GetHelp, kIce, "", "string",
               "A text listing every method and every constant of ice (with its value), one per line."),
    ICE_METHOD(OpenPort, kIce, "[clock = 1024], [voltage = 3300], [flag = true]",
               "found, firmware version [, adapter generation, COM port]",
               "Finds and takes an adapter (asking the user when there are several), checks its firmware "
               "and configures the debug clock and target voltage; the voltage counts only after a clock, "
               "the flag only after both. Without an adapter: false and 4294967295."),
    ICE_METHOD(ClosePort, kIce, "", "",
               "Gives the adapter back so that other programs can use it."),
    ICE_METHOD(SetParam, kIce, "name, value", "",
               "Stores a named adapter parameter; name and value are strings or numbers."),
    ICE_METHOD(ReadICEMem32, kIce, "address", "number",
               "Reads one 32-bit word of the adapter's own memory."),
    ICE_METHOD(ReadICEMemMulti, kIce, "addresses | address1 [, ... address4]",
               "word table | one number per address",
               "Reads words of the adapter's own memory: every address of a table (an empty table is an "
               "argument error), or up to four address arguments."),
    ICE_METHOD(ResetCmdSerial, kIce, "",
               "chip id, pro flag, low half, high half, extra word, design id",
               "Runs the version handshake and returns the adapter's identification; the design id is "
               "one of the DESIGN_ID_ values, -1 when unknown."),
    ICE_METHOD(ReadReg, kIce, "register", "number", "Reads a core register of the target."),
    ICE_METHOD(WriteReg, kIce, "register, value", "", "Writes a core register of the target."),
    ICE_METHOD(ReadMem32, kIce | kUser, "address, [count]", "number | count numbers",
               "Reads one 32-bit word of target memory, or count (0 to 32) consecutive words as "
               "separate results."),
    ICE_METHOD(WriteMem32, kIce | kUser, "address, value [, value ...]", "",
               "Writes one 32-bit word of target memory; with more values (up to 32 in all) writes "
               "them as one block of consecutive words."),
    ICE_METHOD(ReadMemMulti, kIce, "addresses | address1 [, ... address4]",
               "word table | one number per address",
               "Reads independent 32-bit words of target memory: every address of a table, or up to "
               "four address arguments in one command."),
    ICE_METHOD(WriteMemMulti, kIce, "address1, value1 [, ... address4, value4]", "",
               "Writes up to four independent 32-bit words of target memory in one command."),
    ICE_METHOD(ReadMem, kIce, "address, length", "byte table",
               "Reads length bytes of target memory into a table (key 0 = -1, keys 1 to length = "
               "the bytes)."),
    ICE_METHOD(WriteMem, kIce, "address, byte table", "",
               "Writes the table's numbers, each cut to 8 bits, as consecutive bytes of target memory."),
    ICE_METHOD(CheckUSBLink, kIce, "", "boolean", "Whether an adapter has been found."),
    ICE_METHOD(CheckLink, kIce, "", "boolean", "Whether the chosen adapter answers."),
    ICE_METHOD(ReadDbgID, kIce, "[selector = 0]", "number",
               "Reads the target's debug identification word for the selector."),
    ICE_METHOD(MCUConnect, kIce, "[reset type = RESET_AUTO], [connect type = CONNECT_NORMAL], [option = 0]",
               "", "Connects to the target core with a RESET_ and a CONNECT_ mode."),
    ICE_METHOD(CheckMCUStop, kIce, "", "boolean", "Whether the target core is halted."),
    ICE_METHOD(MCUStepRun, kIce, "", "", "Executes one instruction of the halted core."),
    ICE_METHOD(MCUStopRun, kIce, "", "number", "Halts the core and returns the adapter's result word."),
    ICE_METHOD(MCUFreeRun, kIce, "", "", "Lets the core run."),
    ICE_METHOD(GetMCUState, kIce, "", "number", "The core's state: one of the PROCESSOR_ values."),
    ICE_METHOD(SetConfig, kIce, "[clock = 1024], [voltage = 3300], [flag = true]", "boolean",
               "Configures the debug clock and target voltage, with the argument rules of OpenPort."),
    ICE_METHOD(ReadFlash, kIce, "address, length", "byte table",
               "Reads length bytes of the target's flash into a byte table, as ReadMem."),
    ICE_METHOD(SelectBox, kIce, "title, options table, [initial index = 0]", "number",
               "Lets the user choose one of the table's strings; returns its 0-based index, or -1 when "
               "the user cancels or there is nothing to choose."),
    ICE_METHOD(MessageBox, kIce, "warning (boolean), caption, text, [owner global name]", "",
               "Shows a message with an OK button, a warning or an information icon."),
    ICE_METHOD(LoadDwarf, kIce, "", "false", "Symbol files are not supported: always false."),
    ICE_METHOD(UnLoadDwarf, kIce, "", "", "Symbol files are not supported: does nothing."),
    ICE_METHOD(DwarfGetText, kIce, "", "three empty strings",
               "Symbol files are not supported: three empty strings."),
    ICE_METHOD(SetEtmc, kIce, "a, b, c, d, [e = 0], [f = -1]", "boolean, number, number, number, boolean",
               "Sets up the event trace from the bytes a to e and the word f and returns its result "
               "record."),
    ICE_METHOD(GetEtmcState, kIce, "", "number", "The event trace's state: one of the ETMC_STATE_ values."),
    ICE_METHOD(SwoMode, kIce, "mode, [baud rate = 115200]", "[rate set]",
               "Switches the serial-wire output off (SWO_MODE_OFF) or on as UART or Manchester; when "
               "on, returns the rate the adapter set. Other modes do nothing."),
    ICE_METHOD(SwoStatus, kIce, "", "status, number",
               "The serial-wire output's status byte (SWO_STATUS_ bits) and its extra word."),
    ICE_METHOD(SwoData, kIce, "", "status, length, byte table",
               "Fetches the serial-wire output's pending data (at most 1024 bytes)."),
    ICE_METHOD(AdcScan, kUser, "[count = 1]", "number | word table",
               "Reads count (1 to 10) converted values of the adapter's analogue inputs: one number "
               "for a count below 2, else a word table."),
    ICE_METHOD(PwmCapture, kUser, "", "false | true, period word, value, value",
               "Measures the signal on the adapter's capture input; false when nothing was captured."),
    ICE_METHOD(PwmOutput, kUser, "[enable = 0], [first, second]",
               "", "Starts (enable odd, with its two required words) or stops the adapter's PWM output."),
    ICE_METHOD(GpioInput, kUser, "channel (0 or 1)", "number", "Reads the level (0 or 1) of an adapter GPIO pin."),
    ICE_METHOD(GpioOutput, kUser, "channel (0 or 1), level", "", "Drives an adapter GPIO pin to level bit 0."),
};

#undef ICE_METHOD

constexpr size_t CountCarried(unsigned carrier) {
  size_t n = 0;
  for (const AdapterMethod& m : kAdapterMethods) n += (m.carriers & carrier) != 0;
  return n;
}

template <unsigned kCarrier>
constexpr auto MethodsOf() {
  std::array<ScriptMethod, CountCarried(kCarrier)> out{};
  size_t n = 0;
  for (const AdapterMethod& m : kAdapterMethods)
    if (m.carriers & kCarrier) out[n++] = m.method;
  return out;
}

constexpr auto kIceMethods = MethodsOf<kIce>();
constexpr auto kIceUserMethods = MethodsOf<kUser>();
static_assert(kIceMethods.size() == 37 && kIceUserMethods.size() == 7);

// Bound to the adapter protocol's own values.
using namespace ice;
constexpr ScriptConstant kIceConstants[] = {
    SCRIPT_CONSTANT(RESET_AUTO, "MCUConnect: the adapter chooses how to reset the target."),
    SCRIPT_CONSTANT(RESET_HW, "MCUConnect: reset through the target's reset line."),
    SCRIPT_CONSTANT(RESET_SYSRESETREQ, "MCUConnect: reset by the core's system reset request."),
    SCRIPT_CONSTANT(RESET_VECTRESET, "MCUConnect: reset the core only (vector reset)."),
    SCRIPT_CONSTANT(RESET_FAST_RESCUE, "MCUConnect: fast rescue reset."),
    SCRIPT_CONSTANT(RESET_NONE, "MCUConnect: no reset."),
    SCRIPT_CONSTANT(RESET_NONE2, "MCUConnect: no reset (second form)."),
    SCRIPT_CONSTANT(CONNECT_NORMAL, "MCUConnect: attach to the running target."),
    SCRIPT_CONSTANT(CONNECT_PRE_RESET, "MCUConnect: reset the target, then attach."),
    SCRIPT_CONSTANT(CONNECT_UNDER_RESET, "MCUConnect: attach while holding the target in reset."),
    SCRIPT_CONSTANT(CONNECT_NONE, "MCUConnect: do not attach."),
    SCRIPT_CONSTANT(CONNECT_DISCONNECT, "MCUConnect: detach from the target."),
    SCRIPT_CONSTANT(CONNECT_ICP_MODE, "MCUConnect: attach in in-circuit programming mode."),
    SCRIPT_CONSTANT(PROCESSOR_STOP, "GetMCUState: the core is halted."),
    SCRIPT_CONSTANT(PROCESSOR_RUN, "GetMCUState: the core runs."),
    SCRIPT_CONSTANT(PROCESSOR_IDLE, "GetMCUState: the core is idle."),
    SCRIPT_CONSTANT(PROCESSOR_POWER_DOWN, "GetMCUState: the core is powered down."),
    SCRIPT_CONSTANT(ETMC_STATE_STOP, "GetEtmcState: the event trace is stopped."),
    SCRIPT_CONSTANT(ETMC_STATE_RUN, "GetEtmcState: the event trace runs."),
    SCRIPT_CONSTANT(ETMC_STATE_IDLE, "GetEtmcState: the event trace is idle."),
    SCRIPT_CONSTANT(ETMC_STATE_OVERFLOW, "GetEtmcState: the event trace overflowed."),
    SCRIPT_CONSTANT(PORT_CHIP_TYPE_VOLINK1, "OpenPort: a first-generation adapter."),
    SCRIPT_CONSTANT(PORT_CHIP_TYPE_VOLINK2, "OpenPort: a second-generation adapter."),
    SCRIPT_CONSTANT(PORT_CHIP_TYPE_VOLINK3, "OpenPort: a third-generation adapter."),
    SCRIPT_CONSTANT(DESIGN_ID_VOLINK2_ME, "ResetCmdSerial: design id of the Vo-Link2 ME."),
    SCRIPT_CONSTANT(DESIGN_ID_VOLINK2, "ResetCmdSerial: design id of the Vo-Link2."),
    SCRIPT_CONSTANT(DESIGN_ID_VOLINK2_V3, "ResetCmdSerial: design id of the Vo-Link2 V3."),
    SCRIPT_CONSTANT(DESIGN_ID_VOTRACE, "ResetCmdSerial: design id of the Vo-Trace."),
    SCRIPT_CONSTANT(DESIGN_ID_VOLINK2_PRO, "ResetCmdSerial: design id of the Vo-Link2 Pro."),
    SCRIPT_CONSTANT(DESIGN_ID_VOLINK2_LITE, "ResetCmdSerial: design id of the Vo-Link2 Lite."),
    SCRIPT_CONSTANT(DESIGN_ID_NONE, "No design id (reads 4294967295; ResetCmdSerial reports an "
                                    "unknown design as -1)."),
    SCRIPT_CONSTANT(SWO_MODE_OFF, "SwoMode: serial-wire output off."),
    SCRIPT_CONSTANT(SWO_MODE_UART, "SwoMode: serial-wire output in UART (NRZ) coding."),
    SCRIPT_CONSTANT(SWO_MODE_MANCH, "SwoMode: serial-wire output in Manchester coding."),
    SCRIPT_CONSTANT(SWO_STATUS_ACTIVE, "SwoStatus bit: the output is being captured."),
    SCRIPT_CONSTANT(SWO_STATUS_PAUSED, "SwoStatus bit: capturing is paused."),
    SCRIPT_CONSTANT(SWO_STATUS_ERROR, "SwoStatus bit: the capture met an error."),
    SCRIPT_CONSTANT(SWO_STATUS_OVERRUN, "SwoStatus bit: data was lost because the buffer was full."),
};
static_assert(std::size(kIceConstants) == 38);

std::unique_ptr<CLuaObject> CreateIce(void* param) {
  return std::make_unique<CLuaICE>(static_cast<CICE*>(param));
}
std::unique_ptr<CLuaObject> CreateIceUser(void* param) {
  return std::make_unique<CLuaICE_User>(static_cast<CICE*>(param));
}

const ScriptObjectType kIceType{"LuaICE__", kIceMethods, kIceConstants, CreateIce};
const ScriptObjectType kIceUserType{"LuaICE_User__", kIceUserMethods, {}, CreateIceUser};

}  // namespace

const ScriptObjectType& LuaICEType() { return kIceType; }
const ScriptObjectType& LuaICEUserType() { return kIceUserType; }

uint32_t CLuaICE::GetCoreType() { return m_pICE->GetCoreType(); }

int CLuaICE::GetVersion(lua_State* L) {
  lua_pushnumber(L, kFirmwareLowerBound);
  lua_pushnumber(L, kFirmwareToolVersion);
  lua_pushstring(L, kFirmwareToolSuffix);
  return 3;
}

int CLuaICE::GetHelp(lua_State* L) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  luaL_addstring(&b, "Function list of ice:\n");
  for (const ScriptMethod& m : kIceType.methods) {
    luaL_addstring(&b, "  ");
    luaL_addstring(&b, m.name);
    luaL_addchar(&b, '\n');
  }
  luaL_addstring(&b, "Constant list of ice:\n");
  for (const ScriptConstant& c : kIceType.constants) {
    char line[96];
    std::snprintf(line, sizeof line, "  %s = %u\n", c.name, c.value);
    luaL_addstring(&b, line);
  }
  luaL_pushresult(&b);
  return 1;
}

int CLuaICE::LoadDwarf(lua_State* L) {
  lua_pushboolean(L, 0);
  return 1;
}

int CLuaICE::UnLoadDwarf(lua_State*) { return 0; }

int CLuaICE::DwarfGetText(lua_State* L) {
  lua_pushliteral(L, "");
  lua_pushliteral(L, "");
  lua_pushliteral(L, "");
  return 3;
}
