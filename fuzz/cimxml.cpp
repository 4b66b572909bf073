#include "simhost/cim/schema.hpp"
#include "simhost/cimxml/cimxml.hpp"
#include "targets.hpp"

namespace hvc::fuzz {

const char* cimxml(const std::uint8_t* data, std::size_t size) {
  // The schema the provider parses embedded instances against.
  (void)simhost::cimxml::parse_instance(widen(data, size), simhost::cim::virtualization_schema());
  return nullptr;
}

}  // namespace hvc::fuzz
