#include "simhost/cim/path.hpp"
#include "targets.hpp"

namespace hvc::fuzz {

const char* object_path(const std::uint8_t* data, std::size_t size) {
  const auto path = simhost::cim::ObjectPath::parse(widen(data, size));
  if (!path) {
    return nullptr;
  }
  // The host prints paths and reads them back (references, method targets): what it prints must
  // read as the same path.
  const std::wstring text = path->str();
  const auto again = simhost::cim::ObjectPath::parse(text);
  if (!again) {
    return "a parsed path printed as text that does not parse";
  }
  if (again->str() != text) {
    return "a parsed path printed, parsed and printed again changed";
  }
  return nullptr;
}

}  // namespace hvc::fuzz
