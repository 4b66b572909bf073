#include "query_cache.hpp"

#include "simhost/cim/line_aligned.hpp"

#include <algorithm>
#include <cstring>

namespace simhost::provider::detail {

namespace {
__extension__ using Wide = unsigned __int128;  // GCC's and Clang's, on every 64-bit target built
}  // namespace

CachedQuery* QueryCache::find(std::wstring_view text) {
  if (slots_.empty())
    return nullptr;
  if (last_ != CachedQuery::kNone) {
    const std::uint32_t guess = slots_[last_].next;
    if (guess != CachedQuery::kNone && slots_[guess].run->text == text)
      return &found(guess);
  }
  const std::size_t h = hash(text);
  for (std::size_t at = home(h);; at = home(at + 1)) {
    CachedQuery& slot = slots_[at];
    if (!slot.run)
      return nullptr;
    if (slot.hash == h && slot.run->text == text)
      return &found(at);
  }
}

CachedQuery& QueryCache::found(std::size_t at) {
  if (last_ != CachedQuery::kNone)
    slots_[last_].next = static_cast<std::uint32_t>(at);
  last_ = static_cast<std::uint32_t>(at);
  return slots_[at];
}

CachedQuery& QueryCache::add(std::wstring_view text, std::shared_ptr<const wql::Query> parsed) {
  if (size_ >= kCapacity) {
    slots_.clear();
    size_ = 0;
  }
  // At most half full, so that probes stay short; a small host keeps a small table. Slots move,
  // so the order learnt so far is forgotten.
  if (2 * (size_ + 1) > slots_.size()) {
    std::vector<CachedQuery> old(std::max<std::size_t>(64, 2 * slots_.size()));
    old.swap(slots_);
    for (auto& entry : old)
      if (entry.run)
        place(std::move(entry));
    last_ = CachedQuery::kNone;
  }
  ++size_;
  auto run = cim::make_line_aligned<KeptRun>();
  run->text = cim::CompactText(text);
  CachedQuery& entry = place(CachedQuery{hash(text), 0, std::move(parsed), std::move(run)});
  return found(static_cast<std::size_t>(&entry - slots_.data()));
}

CachedQuery& QueryCache::place(CachedQuery entry) {
  entry.next = CachedQuery::kNone;
  std::size_t at = home(entry.hash);
  while (slots_[at].run)
    at = home(at + 1);
  return slots_[at] = std::move(entry);
}

void QueryCache::look_ahead(const cim::Repository& repo) const noexcept {
  // The entries expected next, one to six texts on. Each is read through the one before; every
  // level read here was asked for by an earlier call, one text earlier.
  const CachedQuery* ahead[7] = {};
  std::uint32_t at = last_;
  std::size_t depth = 0;
  while (depth < 6 && at != CachedQuery::kNone) {
    at = slots_[at].next;
    if (at == CachedQuery::kNone)
      break;
    ahead[++depth] = &slots_[at];
  }
  auto first = [](const CachedQuery* e) -> cim::InstanceId {
    return e->run && !e->run->result.instances.empty() ? e->run->result.instances.front() : 0;
  };
  using Level = cim::Repository::Level;
  if (depth >= 1)
    repo.prefetch(first(ahead[1]), Level::path);
  if (depth >= 2)
    repo.prefetch(first(ahead[2]), Level::instance);
  if (depth >= 3)
    repo.prefetch(first(ahead[3]), Level::slot);
  if (depth >= 4 && ahead[4]->run) {
    ahead[4]->run->text.prefetch();
    __builtin_prefetch(ahead[4]->run->result.instances.data());
  }
  if (depth >= 5 && ahead[5]->run) {
    __builtin_prefetch(ahead[5]->run.get());
    __builtin_prefetch(reinterpret_cast<const char*>(ahead[5]->run.get()) + 64);
  }
  if (depth >= 6)
    __builtin_prefetch(ahead[6]);
}

std::size_t QueryCache::hash(std::wstring_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size() * sizeof(wchar_t);
  auto word = [bytes](std::size_t at) {
    std::uint64_t w;
    std::memcpy(&w, bytes + at, sizeof w);
    return w;
  };
  // The two halves of a full product folded together: every bit of either factor reaches the
  // result.
  auto fold = [](std::uint64_t a, std::uint64_t b) {
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
  };
  constexpr std::uint64_t kStep = 0x9E3779B97F4A7C15u;
  constexpr std::uint64_t kOther = 0xC2B2AE3D27D4EB4Fu;
  // Sixteen bytes a product, each with a key of its own position, summed: the products do not
  // wait for one another.
  std::uint64_t h = size * kOther;
  std::uint64_t key = kStep;
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16, key += kStep)
    h += fold(word(i) ^ key, word(i + 8) ^ (key + kOther));
  // Up to 15 bytes left: the first eight or fewer, and the last eight when there are more.
  const std::size_t left = size - i;
  std::uint64_t head = 0;
  if (left > 0)
    std::memcpy(&head, bytes + i, left < sizeof head ? left : sizeof head);
  const std::uint64_t tail = left > sizeof head ? word(size - 8) : 0;
  h += fold(head ^ key, tail ^ (key + kOther));
  return static_cast<std::size_t>(fold(h ^ kOther, 0x94D049BB133111EBu) ^ h);
}

}  // namespace simhost::provider::detail
