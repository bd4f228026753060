#include "script/ScriptReference.h"

#include <span>

#include "script/CPartNum.h"
#include "script/ExtLib.h"
#include "script/LuaICE.h"
#include "script/LuaPartNum.h"
#include "script/ScriptGlobals.h"

namespace {

// Text for one cell of a Markdown table.
std::string Cell(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '|') out += '\\';
    out += *p;
  }
  return out;
}

const char* Mark(bool yes) { return yes ? "yes" : "-"; }

void Globals(std::string& md) {
  md += "## Globals\n\n"
        "What a script finds besides Lua's standard libraries, by the state it runs in: the pin script, a user "
        "script run with File > Run script... (\"user\"), and one run with `gadrel -run_script FILE` "
        "(\"command line\").\n\n"
        "| global | pin script | user | command line | type | what it holds |\n|---|---|---|---|---|---|\n";
  for (const ScriptGlobal& g : ScriptGlobals()) {
    md += "| `" + std::string(g.name) + "` | " + Mark(g.states & kStatePinView) + " | " + Mark(g.states & kStateUser) +
          " | " + Mark(g.states & kStateCommandLine) + " | " + Cell(g.type) + " | " + Cell(g.description) + " |\n";
  }
  md += "\n## Functions a pin script defines\n\n"
        "The view calls these globals of the pin script (see [the guide](pin-scripts.md) for the package table).\n\n"
        "| function | arguments | results | when and why |\n|---|---|---|---|\n";
  for (const ScriptCallback& c : ScriptCallbacks()) {
    md += "| `" + std::string(c.name) + "` | " + Cell(c.args) + " | " + Cell(c.results) + " | " +
          Cell(c.description) + " |\n";
  }
  md += "\n";
}

void Methods(std::string& md, const char* object, std::span<const ScriptMethod> methods) {
  md += "| method | arguments | results | what it does |\n|---|---|---|---|\n";
  for (const ScriptMethod& m : methods) {
    md += "| `" + std::string(object) + ":" + m.name + "` | " + Cell(m.args) + " | " + Cell(m.results) +
          " | " + Cell(m.description) + " |\n";
  }
}

void Constants(std::string& md, const char* object, std::span<const ScriptConstant> constants) {
  if (constants.empty()) return;
  md += "\nConstants (numbers, read as unsigned 32-bit values):\n\n";
  md += "| constant | value | meaning |\n|---|---|---|\n";
  for (const ScriptConstant& c : constants) {
    md += "| `" + std::string(object) + "." + c.name + "` | " + std::to_string(c.value) + " | " +
          Cell(c.description) + " |\n";
  }
}

}  // namespace

std::string ScriptReferenceMarkdown() {
  std::string md =
      "# Scripting reference\n\n"
      "Made from the binding tables by `gadrel-scriptdoc`; edit the tables (and their descriptions) in "
      "`script/`, not this file. The build writes a fresh copy to `build/docs/scripting.md`, a test fails while "
      "`docs/scripting.md` differs from it, and `build/bin/gadrel-scriptdoc docs/scripting.md` brings it up to "
      "date. How to write a pin script: [the guide](pin-scripts.md).\n\n"
      "Methods are called with a colon (`ice:ReadReg(15)`). Numbers are rounded half away from zero "
      "to 32-bit words; words come back unsigned. A required argument that fails its test raises "
      "\"<method>: argument error\"; an adapter failure raises \"<method>: <adapter's text>\". "
      "Byte and word tables hold -1 at key 0 and the data at keys 1 to n.\n\n";
  Globals(md);

  md += "## `ice` (the pin-view script)\n\n";
  Methods(md, "ice", LuaICEType().methods);
  Constants(md, "ice", LuaICEType().constants);

  md += "\n## `VoLink` (user scripts)\n\nThe memory words of `ice` and the adapter's peripheral bridge, on the "
        "adapter object the pin view uses.\n\n";
  Methods(md, "VoLink", LuaICEUserType().methods);
  Constants(md, "VoLink", LuaICEUserType().constants);

  md += "\n## `pn` (the pin-view script)\n\n";
  Methods(md, "pn", LuaPartNumType().methods);
  Constants(md, "pn", LuaPartNumType().constants);
  md += "\nPart families: `pn` also holds one entry per family identifier, its index as the value (" +
        std::to_string(PartFamilyCount()) + " entries, `pn." + PartFamilyName(0) + "` to `pn." +
        PartFamilyName(PartFamilyCount() - 1) +
        "`), to compare with the family index that `GetPartNumByPID` returns.\n";

  md += "\n## `ext` (every script)\n\n";
  md += "| function | pin script | user, command line | arguments | results | what it does |\n"
        "|---|---|---|---|---|---|\n";
  for (const ExtFunction& f : ExtFunctions()) {
    md += "| `ext." + std::string(f.name) + "` | " + Mark(f.variants & kExtPinView) + " | " +
          Mark(f.variants & kExtUser) + " | " + Cell(f.args) + " | " + Cell(f.results) + " | " +
          Cell(f.description) + " |\n";
  }
  md += "\nThere is no global `bit`. In user scripts `print` is `ext.redirect_print_user`.\n";
  return md;
}
