#include "kivo/doc/change_log.h"

#include <algorithm>
#include <cstring>

#include "kivo/base/log.h"
#include "ops.h"

namespace kivo::doc {
namespace {

constexpr std::uint8_t kMagic[kLogHeaderBytes] = {'K', 'I', 'V', 'O', 'D', 'O', 'C', 0x01};

}  // namespace

std::vector<std::uint8_t> log_file_header() { return {std::begin(kMagic), std::end(kMagic)}; }

std::vector<std::uint8_t> log_record(const Change& change) {
  const auto payload = change.bytes();
  // Nothing could read a larger record back; no edit comes near it.
  if (payload.size() > kMaxLogRecordBytes) kivo::fatal("a change is too large for the change log");
  const auto size = static_cast<std::uint32_t>(payload.size());
  std::vector<std::uint8_t> out;
  out.reserve(kLogRecordHeaderBytes + payload.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  out.insert(out.end(), change.hash().bytes.begin(), change.hash().bytes.begin() + 8);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

LogScan scan_log(std::span<const std::uint8_t> bytes, bool at_file_start) {
  LogScan scan;
  std::size_t pos = 0;
  if (at_file_start) {
    if (bytes.empty()) {
      scan.tail = LogTail::Incomplete;
      scan.needed = kLogHeaderBytes;
      return scan;
    }
    const std::size_t have = std::min(bytes.size(), kLogHeaderBytes);
    if (std::memcmp(bytes.data(), kMagic, have) != 0) {
      scan.tail = LogTail::NotALog;
      scan.problem = "the file does not start with the change log header";
      return scan;
    }
    if (have < kLogHeaderBytes) {
      scan.tail = LogTail::Incomplete;
      scan.needed = kLogHeaderBytes;
      return scan;
    }
    pos = scan.consumed = kLogHeaderBytes;
  }
  while (pos < bytes.size()) {
    const std::size_t left = bytes.size() - pos;
    if (left < kLogRecordHeaderBytes) {
      scan.tail = LogTail::Incomplete;
      return scan;
    }
    const std::uint8_t* h = bytes.data() + pos;
    const std::size_t length = std::size_t{h[0]} | std::size_t{h[1]} << 8 | std::size_t{h[2]} << 16 | std::size_t{h[3]} << 24;
    if (length == 0 || length > kMaxLogRecordBytes) {
      scan.tail = LogTail::Corrupt;
      scan.problem = "a record declares " + std::to_string(length) + " bytes";
      return scan;
    }
    if (length > left - kLogRecordHeaderBytes) {
      scan.tail = LogTail::Incomplete;
      scan.needed = kLogRecordHeaderBytes + length;
      return scan;
    }
    const auto payload = bytes.subspan(pos + kLogRecordHeaderBytes, length);
    const ChangeHash hash = detail::sha256(payload);
    if (std::memcmp(hash.bytes.data(), h + 4, 8) != 0) {
      scan.tail = LogTail::Corrupt;
      scan.problem = "a record fails its checksum";
      return scan;
    }
    auto body = detail::decode_change(payload, hash);
    if (body) {
      scan.changes.emplace_back(std::make_shared<const detail::ChangeBody>(std::move(*body)));
    } else {
      scan.skipped.push_back(body.error());
    }
    pos += kLogRecordHeaderBytes + length;
    scan.consumed = pos;
  }
  return scan;
}

}  // namespace kivo::doc
