#include "kivo/base/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kivo/base/unique_fd.h"

namespace kivo {
namespace {

// A pipe holding `bytes`, closed for writing, so the reader sees them and then the end.
UniqueFd pipe_with(const std::string& bytes) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  EXPECT_EQ(::write(write_end.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  return read_end;
}

TEST(ReadBounded, ReadsToTheEndButNeverPastOneByteOverTheLimit) {
  const struct {
    std::size_t size, limit, hint, expected;
  } cases[] = {
      {0, 100, 0, 0},         // empty
      {100, 100, 0, 100},     // exactly the limit
      {10000, 100, 0, 101},   // more than allowed: one byte over says so
      {10000, 20000, 5, 10000},  // a hint smaller than the file
      {50, 100, 4096, 50},    // a hint larger than the file
  };
  for (const auto& c : cases) {
    const UniqueFd fd = pipe_with(std::string(c.size, 'x'));
    const auto text = read_bounded(fd.get(), c.limit, c.hint);
    ASSERT_TRUE(text) << c.size;
    EXPECT_EQ(text->size(), c.expected) << c.size << " bytes, limit " << c.limit;
  }
  EXPECT_EQ(read_bounded(-1, 10).error(), EBADF);
}

}  // namespace
}  // namespace kivo
