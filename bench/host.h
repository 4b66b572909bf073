// A host of a given size for the benchmarks.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "simhost/provider/simulated_host.hpp"

namespace hvcbench {

inline std::wstring Guid(unsigned group, unsigned n) {
  wchar_t text[40];
  std::swprintf(text, 40, L"%08X-0000-4000-8000-%012X", group, n);
  return text;
}

// `vms` running machines with two adapters each, spread over `switches` switches.
inline simhost::provider::HostDescription Sized(unsigned vms, unsigned switches) {
  simhost::provider::HostDescription description;
  description.computer_name = L"BENCH";
  for (unsigned s = 0; s < switches; ++s) {
    simhost::provider::SwitchDescription sw;
    sw.name = Guid(1, s);
    sw.element_name = L"switch-" + std::to_wstring(s);
    description.switches.push_back(sw);
  }
  for (unsigned v = 0; v < vms; ++v) {
    simhost::provider::VmDescription vm;
    vm.name = Guid(2, v);
    vm.element_name = L"vm-" + std::to_wstring(v);
    vm.enabled_state = 2;
    for (unsigned a = 0; a < 2; ++a) {
      simhost::provider::AdapterDescription adapter;
      adapter.instance_id = Guid(3, v * 2 + a);
      wchar_t mac[13];
      std::swprintf(mac, 13, L"00155D%06X", v * 2 + a);
      adapter.address = mac;
      adapter.switch_name = L"switch-" + std::to_wstring((v + a) % switches);
      vm.adapters.push_back(adapter);
    }
    description.vms.push_back(vm);
  }
  return description;
}

// Sends standard output to /dev/null while it lives: the library's console lines are not what
// the benchmarks measure, and the benchmark's own report must still reach the terminal.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    std::cout.flush();
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;
  ~QuietStdout() {
    std::fflush(stdout);
    std::cout.flush();
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

}  // namespace hvcbench
