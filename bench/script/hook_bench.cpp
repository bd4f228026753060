// Cost of the host's count hook: one pin-script-like workload (building pin
// tables, bit arithmetic on register words) run in a host state with the
// hook installed and in the same state with the hook removed.
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include "script/CICECmd.h"

namespace {

const char kWorkload[] = R"(
local function get_status()
  local pins = {}
  local moder, odr, pupdr = 0x5A5A0F0F, 0x0000A5A5, 0x12345678
  for port = 0, 5 do
    for bit = 0, 15 do
      local n = port * 16 + bit
      local mode = ext.band(ext.rshift(moder, (bit % 16) * 2), 3)
      local level = ext.band(ext.rshift(odr, bit), 1)
      local pull = ext.band(ext.rshift(pupdr, (bit % 16) * 2), 3)
      pins[#pins + 1] = {
        pin_no = tostring(n + 1),
        pin_fun = { "P" .. string.char(65 + port) .. bit, "TIM" .. (n % 4), "UART" .. (n % 3) },
        fun_idx = mode + 1,
        dir = mode == 1 and 1 or 0,
        level = level,
        pullup = pull == 1,
        color = 0xFF000000 + n * 1024,
      }
    end
    moder = ext.bxor(ext.lshift(moder, 1), ext.rshift(moder, 31)) + port
  end
  return { name = "GX32M412VE", frame = 0, pins = pins }
end
for i = 1, 20 do get_status() end
)";

void RunWorkload(benchmark::State& state, bool withHook) {
  CICECmd host;
  if (!host.InitScript(nullptr, "Gadrel", nullptr)) {
    state.SkipWithError("no state");
    return;
  }
  lua_State* L = host.GetLuaState();
  if (!withHook) lua_sethook(L, nullptr, 0, 0);
  if (luaL_loadstring(L, kWorkload) != 0) {
    state.SkipWithError(lua_tostring(L, -1));
    return;
  }
  const int chunk = lua_gettop(L);
  for (auto _ : state) {
    lua_pushvalue(L, chunk);
    if (lua_pcall(L, 0, 0, 0) != 0) {
      state.SkipWithError(lua_tostring(L, -1));
      return;
    }
  }
}

void BM_PinWorkloadWithoutHook(benchmark::State& state) { RunWorkload(state, false); }
void BM_PinWorkloadWithHook(benchmark::State& state) { RunWorkload(state, true); }

BENCHMARK(BM_PinWorkloadWithoutHook)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PinWorkloadWithHook)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
