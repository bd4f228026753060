// One refresh of the shipped pin script (Gadrel/gadrel.lua) against the
// emulator, per transport and chip series: time a refresh takes and the
// adapter exchanges it costs. The counters show the exchanges per refresh
// beside the bound ceil(registers / multi-access limit).
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include "../../tests/ice/SimFixture.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CVoICE.h"
#include "script/CICECmd.h"

namespace {

bool CallGetStatus(lua_State* L) {
  lua_getglobal(L, "get_status");
  lua_pushboolean(L, 0);
  if (lua_pcall(L, 1, 1, 0) != 0) {
    lua_pop(L, 1);
    return false;
  }
  bool pins = false;
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "pins");
    pins = lua_istable(L, -1);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  return pins;
}

void Refresh(benchmark::State& state, const std::string& kind, int size, bool c51, bool timing) {
  const std::string config = OneAdapterConfig(kind, size, 7973, "m4", 1, c51 ? "8051" : "cortex-m");
  SimProcess sim(config, 1);
  if (timing) sim.Ctl("timing a on");
  CICEGlobalMutex owner;
  std::unique_ptr<CICE> ice;
  if (c51)
    ice = std::make_unique<CVoICE_Ostra1T>(&owner);
  else
    ice = std::make_unique<CVoICE>(&owner);
  CICECmd host;
  host.InitScript(ice.get(), "Gadrel", nullptr);
  lua_State* L = host.GetLuaState();
  lua_pushstring(L, c51 ? "8051_1T" : "CORTEX_M");
  lua_setglobal(L, "CHIP_SERIES");
  if (!host.RunScriptFile(GADREL_PIN_SCRIPT, false) || !CallGetStatus(L)) {
    state.SkipWithError("the pin script does not show pins");
    return;
  }
  lua_getglobal(L, "live");
  lua_getfield(L, -1, "chip");
  lua_getfield(L, -1, "addresses");
  const auto registers = static_cast<double>(lua_objlen(L, -1));
  lua_pop(L, 3);
  const double limit = ice->GetMultiAccessLimit();

  const uint64_t before = ice->GetExchangeCount();
  for (auto _ : state) {
    if (!CallGetStatus(L)) {
      state.SkipWithError("refresh failed");
      break;
    }
  }
  const double refreshes = static_cast<double>(state.iterations());
  state.counters["exchanges"] = static_cast<double>(ice->GetExchangeCount() - before) / refreshes;
  state.counters["registers"] = registers;
  state.counters["limit"] = limit;
  state.counters["bound"] = static_cast<double>(static_cast<uint64_t>((registers + limit - 1) / limit));
}

}  // namespace

BENCHMARK_CAPTURE(Refresh, cortex_m_hid64, std::string("hid"), 64, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refresh, cortex_m_bulk512, std::string("bulk"), 512, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refresh, c51_hid64, std::string("hid"), 64, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refresh, c51_bulk512, std::string("bulk"), 512, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refresh, cortex_m_hid64_usb_timing, std::string("hid"), 64, false, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refresh, cortex_m_bulk512_usb_timing, std::string("bulk"), 512, false, true)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
