// hvc_hostgen VMS [SWITCHES]: prints the host file of a host with VMS running machines, two
// adapters each, spread over SWITCHES switches (16 unless given), as the benchmarks build it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host.h"

int main(int argc, char** argv) {
  const long vms = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  const long switches = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 16;
  if (argc < 2 || argc > 3 || vms < 1 || switches < 1 || vms > 100000 || switches > 4096) {
    std::fprintf(stderr, "usage: hvc_hostgen VMS [SWITCHES]\n");
    return 2;
  }
  const auto text =
      simhost::provider::to_json(hvcbench::Sized(static_cast<unsigned>(vms), static_cast<unsigned>(switches)));
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
