// Terminal output from a hostile remote: any bytes, cut into chunks anywhere.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string violation = remote::vt::testing::run_fuzz_input(std::span(data, size));
  if (!violation.empty()) {
    std::fprintf(stderr, "terminal screen invariant broken: %s\n", violation.c_str());
    std::abort();
  }
  return 0;
}
