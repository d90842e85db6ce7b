// Replays the fuzzer's corpus through the fuzzer's own entry point, so that every input that
// once found a fault keeps being checked in ordinary test runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kivo/doc/change.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace kivo::doc {
namespace {

TEST(FuzzCorpus, EveryInputPassesTheHarness) {
  const char* source = std::getenv("REMOTE_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::filesystem::path corpus = std::filesystem::path(source) / "fuzz" / "doc" / "corpus";
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    // The seed changes must stay valid encodings, or they seed nothing.
    if (entry.path().filename().string().starts_with("change-")) {
      EXPECT_TRUE(Change::decode(bytes).has_value()) << entry.path();
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++inputs;
  }
  EXPECT_GT(inputs, 0u);
}

}  // namespace
}  // namespace kivo::doc
