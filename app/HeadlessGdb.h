// `gadrel --render FILE.png --gdb-port P`: the pin view without a window
// serving gdb on its adapter object, refreshing at a steady pace and
// rewriting FILE.json (the pins' tooltips, with their levels) after every
// refresh, so what gdb does to the core can be seen in the pins; FILE.png is
// drawn at the end.
#pragma once

class CMainFrame;
struct PinViewOptions;

// The first refresh, then the server (its target line on standard output),
// then one refresh every --rate ms (default 100) until --ticks refreshes
// are done or the gdb client that connected has left. Returns the exit
// status.
int RunHeadlessGdbRender(CMainFrame& frame, const PinViewOptions& options);
