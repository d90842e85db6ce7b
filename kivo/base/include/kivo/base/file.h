#pragma once
// Small pieces of file handling shared by the readers of private files.

#include <cstddef>
#include <expected>
#include <string>

namespace kivo {

// The system's text for an errno value.
std::string errno_text(int error);

// Reads `fd` to its end, retrying interrupted reads, but never more than `limit` + 1 bytes: a
// result longer than `limit` means the file holds more than the caller accepts (it may have
// grown after its size was checked). `size_hint` (the size fstat gave) only sizes the first
// buffer. Fails with the errno of a failed read.
std::expected<std::string, int> read_bounded(int fd, std::size_t limit, std::size_t size_hint = 0);

}  // namespace kivo
