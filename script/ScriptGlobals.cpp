#include "script/ScriptGlobals.h"

#include <array>

namespace {

constexpr unsigned kWindow = kStatePinView | kStateUser;
constexpr unsigned kUserStates = kStateUser | kStateCommandLine;
constexpr unsigned kEvery = kStatePinView | kStateUser | kStateCommandLine;

constexpr std::array kGlobals{
    ScriptGlobal{"ice", kStatePinView, false, "table",
                 "The adapter object of the chosen chip series: memory, registers, run control and adapter I/O."},
    ScriptGlobal{"pn", kStatePinView, false, "table",
                 "Part-number lookups from the chip's ids, and one number per part family (`pn.PROJ_...`)."},
    ScriptGlobal{"VoLink", kStateUser, false, "table",
                 "The adapter object the pin view uses, with memory words and the adapter's own I/O pins. "
                 "Not in command-line runs, which have no adapter."},
    ScriptGlobal{"ext", kEvery, false, "table", "Bit operations, a millisecond sleep and printing to the output pane."},
    ScriptGlobal{"print", kUserStates, false, "function",
                 "`ext.redirect_print_user`: one line to the output pane (dropped in command-line runs). "
                 "The pin script keeps Lua's own `print`, which writes to standard output."},
    ScriptGlobal{"CHIP_SERIES", kStatePinView, true, "string",
                 "\"CORTEX_M\" or \"8051_1T\": the chip series chosen at start (the dialog or `--series`)."},
    ScriptGlobal{"SCRIPT_APP_HOST", kEvery, false, "string",
                 "Who runs the script: \"Gadrel\" (pin script), \"Gadrel_User\" (File > Run script...) or "
                 "\"Gadrel_User_Cmd\" (`-run_script`)."},
    ScriptGlobal{"SCRIPT_APP_DIR", kStatePinView, false, "string", "The program's folder (UTF-8)."},
    ScriptGlobal{"SCRIPT_DIRECTORY", kEvery, false, "string",
                 "The folder of the script file being run, absolute (UTF-8), set before each run of a file; "
                 "use it to load files that lie beside the script."},
    ScriptGlobal{"TOOL_VIEW_WIN", kWindow, true, "light userdata",
                 "The pin view, where the print functions send their text. Leave it alone."},
    ScriptGlobal{"CICECmd_HOOK_OBJECT", kEvery, false, "light userdata",
                 "The script host, found by its instruction hook (stops and time limits). Leave it alone."},
    ScriptGlobal{"LuaICE__", kStatePinView, false, "function", "Makes another `ice` object on the same adapter."},
    ScriptGlobal{"LuaICE_User__", kStateUser, false, "function",
                 "Makes another `VoLink` object on the same adapter."},
    ScriptGlobal{"LuaPartNum__", kStatePinView, false, "function",
                 "Makes another `pn` object (without the part-family entries)."},
    ScriptGlobal{"xpcall", kEvery, false, "function",
                 "Lua's `xpcall`; an error inside the message handler gives \"error in error handling\" and "
                 "cannot escape the host's stops."},
};

constexpr std::array kCallbacks{
    ScriptCallback{"get_status", "refresh (always false)", "package table",
                   "Called at every refresh of the pin view; its table describes the package and every pin. "
                   "An error or a missing function leaves the view empty for that refresh."},
    ScriptCallback{"disconnect", "", "(ignored)",
                   "Called once when the pin view closes, so the script can give the adapter back "
                   "(`ice:ClosePort()`). Errors are ignored."},
};

}  // namespace

std::span<const ScriptGlobal> ScriptGlobals() { return kGlobals; }
std::span<const ScriptCallback> ScriptCallbacks() { return kCallbacks; }
