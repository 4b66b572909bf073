// Runs the benchmarks with the usual console report, then prints the two summaries the targets
// are read from: the inventory at scale, and our lookups beside SQLite's. The summaries give CPU
// time, which a busy machine disturbs less than wall time; every run is single-threaded.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include "rss.h"
#include "simhost/provider/heap.hpp"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  using ConsoleReporter::ConsoleReporter;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        runs_.push_back(run);
      }
    }
  }

  void Summarise() const {
    std::vector<const Run*> scale;
    std::map<std::string, std::map<long, double>> lookups;  // benchmark -> objects -> ns
    for (const auto& run : runs_) {
      const auto name = run.benchmark_name();
      const auto ns = run.GetAdjustedCPUTime() * Scale(run.time_unit);
      if (name.rfind("InventoryAtScale/", 0) == 0) {
        scale.push_back(&run);
      } else if (const auto slash = name.find('/'); slash != std::string::npos) {
        lookups[name.substr(0, slash)][std::stol(name.substr(slash + 1))] = ns;
      }
    }
    if (!scale.empty()) {
      std::printf("\n%-6s %12s %14s\n", "VMs", "CPU (ms)", "peak RSS (MB)");
      for (const auto* run : scale) {
        std::printf("%-6.0f %12.1f %14.1f\n", run->counters.at("VMs").value,
                    run->GetAdjustedCPUTime() * Scale(run->time_unit) / 1e6, run->counters.at("peak_RSS_MB").value);
      }
    }
    for (const char* kind : {"PointQuery", "Associators"}) {
      const auto ours = lookups.find(std::string(kind) + "Ours");
      const auto theirs = lookups.find(std::string(kind) + "Sqlite");
      if (ours == lookups.end() || theirs == lookups.end()) {
        continue;
      }
      std::printf("\n%s: %-8s %10s %12s %18s\n", kind, "objects", "ours (ns)", "SQLite (ns)", "SQLite / ours");
      for (const auto& [objects, ns] : ours->second) {
        const auto it = theirs->second.find(objects);
        if (it != theirs->second.end()) {
          std::printf("%*s  %-8ld %10.0f %12.0f %18.2f\n", static_cast<int>(std::string(kind).size()), "", objects, ns,
                      it->second, it->second / ns);
        }
      }
      if (ours->second.size() >= 2) {
        std::printf("%*s  large / small host: %.2f\n", static_cast<int>(std::string(kind).size()), "",
                    ours->second.rbegin()->second / ours->second.begin()->second);
      }
    }
  }

 private:
  static double Scale(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1;
      case benchmark::kMicrosecond:
        return 1e3;
      case benchmark::kMillisecond:
        return 1e6;
      default:
        return 1e9;
    }
  }
  std::vector<Run> runs_;
};

}  // namespace

int main(int argc, char** argv) {
  // The heap on 2 MB pages, as hvcfg has it; --small-pages measures on the system's default pages.
  if (argc > 1 && std::strcmp(argv[argc - 1], "--small-pages") == 0) {
    --argc;
  } else {
    hvcbench::g_hugeHeap = std::size_t{512} << 20;
    simhost::provider::prepare_heap(hvcbench::g_hugeHeap);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  // Colours only for a terminal: CI logs keep plain text.
  SummaryReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                 : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Summarise();
  benchmark::Shutdown();
  return 0;
}
