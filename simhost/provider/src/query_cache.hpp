// Queries by their text, parsed once and with the result they last gave.
#pragma once

#include "simhost/cim/compact_text.hpp"
#include "simhost/provider/host.hpp"
#include "simhost/wql/ast.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace simhost::provider::detail {

// One query text: its parse, and its result while the repository is at the version it was taken
// at. Callers repeat the same few thousand texts (one per switch port, one per machine) millions
// of times on an unchanged host, so a repeat costs one lookup of the text.
struct CachedQuery {
  cim::CompactText key;  // the text, compared with each text asked for
  std::shared_ptr<const std::wstring> text;
  std::shared_ptr<const wql::Query> parsed;
  std::uint64_t version = 0;  // the repository's, when result was taken; 0: none yet
  std::shared_ptr<const wql::Result> result;
};

// Bounded: when full it starts over rather than grow with hostile or endless distinct texts.
// Texts that differ only near their end (one path among thousands) are told apart by their
// hash: entries are filed by it, so a miss compares no text and a hit compares it once.
class QueryCache {
 public:
  static constexpr std::size_t kCapacity = 16384;

  // The entry of this text, or null. Valid until the next add.
  CachedQuery* find(std::wstring_view text);
  CachedQuery& add(std::wstring_view text, std::shared_ptr<const wql::Query> parsed);

  // Of every byte of the text.
  static std::size_t hash(std::wstring_view text) noexcept;

 private:
  std::unordered_map<std::size_t, std::vector<CachedQuery>> entries_;
  std::size_t size_ = 0;
};

}  // namespace simhost::provider::detail
