#include "simhost/wql/parser.hpp"
#include "targets.hpp"

namespace hvc::fuzz {

const char* wql(const std::uint8_t* data, std::size_t size) {
  const auto query = simhost::wql::parse(widen(data, size));
  if (!query && query.error().code != simhost::wql::ErrorCode::invalid_query) {
    return "the parser refused a query with a code other than invalid_query";
  }
  return nullptr;
}

}  // namespace hvc::fuzz
