#include "query_cache.hpp"

#include <algorithm>
#include <cstring>

namespace simhost::provider::detail {

namespace {
__extension__ using Wide = unsigned __int128;  // GCC's and Clang's, on every 64-bit target built
}  // namespace

CachedQuery* QueryCache::find(std::wstring_view text) {
  if (slots_.empty())
    return nullptr;
  const std::size_t h = hash(text);
  for (std::size_t at = home(h);; at = home(at + 1)) {
    CachedQuery& slot = slots_[at];
    if (!slot.run)
      return nullptr;
    if (slot.hash == h && slot.run->text == text)
      return &slot;
  }
}

CachedQuery& QueryCache::add(std::wstring_view text, std::shared_ptr<const wql::Query> parsed) {
  if (size_ >= kCapacity) {
    slots_.clear();
    size_ = 0;
  }
  // At most half full, so that probes stay short; a small host keeps a small table.
  if (2 * (size_ + 1) > slots_.size()) {
    std::vector<CachedQuery> old(std::max<std::size_t>(64, 2 * slots_.size()));
    old.swap(slots_);
    for (auto& entry : old)
      if (entry.run)
        place(std::move(entry));
  }
  ++size_;
  auto run = std::make_shared<KeptRun>();
  run->text = cim::CompactText(text);
  return place(CachedQuery{hash(text), 0, std::move(parsed), std::move(run)});
}

CachedQuery& QueryCache::place(CachedQuery entry) {
  std::size_t at = home(entry.hash);
  while (slots_[at].run)
    at = home(at + 1);
  return slots_[at] = std::move(entry);
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
