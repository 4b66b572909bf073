// Queries by their text, parsed once and with the result they last gave.
#pragma once

#include "simhost/provider/host.hpp"
#include "simhost/wql/ast.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace simhost::provider::detail {

// One query text: its parse, and its run (the text with the result it gave) while the
// repository is at the version that result was taken at. Callers repeat the same few thousand
// texts (one per switch port, one per machine) millions of times on an unchanged host, so a
// repeat costs one compare of the text (see QueryCache), or a hash and a probe of the table.
// A cache line each, so that reaching one reads one line, not two.
struct alignas(64) CachedQuery {
  static constexpr std::uint32_t kNone = UINT32_MAX;

  std::size_t hash = 0;
  std::uint64_t version = 0;  // the repository's, when run->result was taken; 0: none yet
  std::shared_ptr<const wql::Query> parsed;
  std::shared_ptr<KeptRun> run;  // null: the slot is free
  std::uint32_t next = kNone;    // the slot of the text asked for after this one, last time
};
static_assert(sizeof(CachedQuery) == 64, "one cache line");

// Open addressing, kept in place: a lookup touches the slot and the run it names, nothing else.
// Bounded: when full it starts over rather than grow with hostile or endless distinct texts.
//
// Callers walk the same texts in the same order again and again (one per switch port, for each
// machine). Each entry remembers which came next, so a text asked for in its usual place is found
// by one compare, without hashing, and what the next few will read is loaded ahead of them.
class QueryCache {
 public:
  static constexpr std::size_t kCapacity = 16384;

  // The entry of this text, or null. Valid until the next add.
  CachedQuery* find(std::wstring_view text);
  CachedQuery& add(std::wstring_view text, std::shared_ptr<const wql::Query> parsed);
  // Starts loading what the texts expected next will read, each a level further than the one
  // after it: a level the last call asked for is in the caches by now.
  void look_ahead(const cim::Repository& repo) const noexcept;

  // Of every byte of the text.
  static std::size_t hash(std::wstring_view text) noexcept;

 private:
  std::size_t home(std::size_t h) const noexcept { return h & (slots_.size() - 1); }
  CachedQuery& place(CachedQuery entry);
  CachedQuery& found(std::size_t at);  // links `at` after the last one found

  std::vector<CachedQuery> slots_;  // a power of two of them, or none
  std::size_t size_ = 0;
  std::uint32_t last_ = CachedQuery::kNone;  // the slot found last
};

}  // namespace simhost::provider::detail
