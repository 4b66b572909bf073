// The WQL engine on a large repository. Targets: an ASSOCIATORS OF a switch uses the role index
// (under 50 us whatever the repository's size); a SELECT by key among 1000 machines looks at that
// class only (under 250 us).
#include <benchmark/benchmark.h>

#include "host.h"
#include "simhost/cim/text.hpp"

namespace {

void SelectMachineByName(benchmark::State& state) {
  simhost::provider::SimulatedHost host(hvcbench::Sized(1000, 10));
  const std::wstring query = L"Select * from Msvm_ComputerSystem where Name='" + hvcbench::Guid(2, 500) + L"'";
  for (auto _ : state)
    benchmark::DoNotOptimize(host.query(query));
}
BENCHMARK(SelectMachineByName)->Unit(benchmark::kMicrosecond);

void AssociatorsOfASwitch(benchmark::State& state) {
  simhost::provider::SimulatedHost host(hvcbench::Sized(1000, 10));
  const auto& repo = host.repository();
  const auto switches = host.query(L"SELECT * FROM Msvm_VirtualSwitch");
  const std::wstring path = repo.path_text(*repo.get(switches->instances.front()));
  const std::wstring query = L"ASSOCIATORS OF {" + path + L"} where ResultClass=Msvm_SwitchPort";
  for (auto _ : state)
    benchmark::DoNotOptimize(host.query(query));
}
BENCHMARK(AssociatorsOfASwitch)->Unit(benchmark::kMicrosecond);

}  // namespace
