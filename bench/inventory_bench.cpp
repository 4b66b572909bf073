// The enumerations end to end, through COM, against simulated hosts of growing size.
// Target: GetVirtualMachines of 50 machines on 5 switches within 250 ms. The switch walk visits
// every switch port for every machine, so the time grows with the square of the host's size.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "host.h"
#include "hypervconfig.h"
#include "simhost/com/installation.hpp"

namespace {

void GetVirtualMachines(benchmark::State& state) {
  const auto vms = static_cast<unsigned>(state.range(0));
  simhost::com::Installation install(std::make_shared<simhost::provider::SimulatedHost>(hvcbench::Sized(vms, 5)));
  HypervConfig config;
  std::vector<vMachines> records(vms);
  for (auto _ : state) {
    hvcbench::QuietStdout quiet;
    unsigned long size = 0;
    benchmark::DoNotOptimize(config.GetVirtualMachines(records.data(), &size));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(GetVirtualMachines)->Arg(5)->Arg(20)->Arg(50)->Unit(benchmark::kMillisecond)->Complexity();

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
