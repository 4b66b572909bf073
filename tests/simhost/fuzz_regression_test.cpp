// Replays every stored fuzz input (the seed corpora and the inputs that once found a bug) through
// the fuzz targets' own bodies, so the ordinary builds keep them passing without libFuzzer.
#include "targets.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class FuzzReplay : public ::testing::TestWithParam<hvc::fuzz::Target> {};

TEST_P(FuzzReplay, EveryStoredInputPasses) {
  const hvc::fuzz::Target target = GetParam();
  std::size_t replayed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(HVC_FUZZ_DATA_DIR) / kind / target.name;
    if (!fs::is_directory(dir)) {
      continue;
    }
    for (const auto& file : fs::directory_iterator(dir)) {
      std::ifstream in(file.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      const char* broken = target.entry(bytes.data(), bytes.size());
      EXPECT_EQ(broken, nullptr) << file.path().string() << ": " << broken;
      ++replayed;
    }
  }
  // A moved folder must not pass by replaying nothing.
  EXPECT_GT(replayed, 0u) << HVC_FUZZ_DATA_DIR;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::ValuesIn(hvc::fuzz::targets().begin(), hvc::fuzz::targets().end()),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
