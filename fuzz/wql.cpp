#include "simhost/wql/parser.hpp"
#include "targets.hpp"

namespace hvc::fuzz {

const char* wql(const std::uint8_t* data, std::size_t size) {
  using simhost::wql::ErrorCode;
  const auto query = simhost::wql::parse(widen(data, size));
  if (!query && query.error().code != ErrorCode::invalid_query && query.error().code != ErrorCode::quota_violation) {
    return "the parser refused a query with a code other than invalid_query or quota_violation";
  }
  return nullptr;
}

}  // namespace hvc::fuzz
