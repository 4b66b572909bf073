// The switch enumeration end to end, through COM (the machine inventory is InventoryAtScale).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "host.h"
#include "hypervconfig.h"
#include "simhost/com/installation.hpp"

namespace {

void GetVirtualSwitches(benchmark::State& state) {
  simhost::com::Installation install(std::make_shared<simhost::provider::SimulatedHost>(hvcbench::Sized(20, 10)));
  HypervConfig config;
  std::vector<vNetwork> records(10);
  for (auto _ : state) {
    unsigned long size = 0;
    benchmark::DoNotOptimize(config.GetVirtualSwitches(records.data(), &size));
  }
}
BENCHMARK(GetVirtualSwitches)->Unit(benchmark::kMillisecond);

}  // namespace
