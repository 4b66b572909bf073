#include "simhost/provider/host_description.hpp"
#include "simhost/provider/simulated_host.hpp"
#include "targets.hpp"

#include <string_view>

namespace hvc::fuzz {

const char* host_file(const std::uint8_t* data, std::size_t size) {
  const auto description =
      simhost::provider::parse_host_json(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!description) {
    return nullptr;
  }
  // A file that loads describes a valid host: the host builds from it (it throws otherwise), and
  // saving the description gives a file that loads as the same description.
  const simhost::provider::SimulatedHost host(*description);
  const auto saved = simhost::provider::parse_host_json(simhost::provider::to_json(*description));
  if (!saved || *saved != *description) {
    return "a loaded host file saved and loaded again changed";
  }
  (void)simhost::provider::to_json(host.to_description());
  return nullptr;
}

}  // namespace hvc::fuzz
