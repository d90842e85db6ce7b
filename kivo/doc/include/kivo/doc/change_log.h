#pragma once
// The change log file format: one device's changes, appended one record per commit.
//
//   file:   "KIVODOC" 0x01 (8 bytes), then records
//   record: u32 LE payload length | first 8 bytes of the payload's SHA-256 | payload
//
// The payload is one encoded change, so the checksum is a prefix of the change's own hash and
// costs nothing extra to verify. A reader resumes at a record boundary; a record cut short at
// the end of the file is not an error (its writer may still be writing it).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kivo/doc/change.h"
#include "kivo/doc/types.h"

namespace kivo::doc {

inline constexpr std::size_t kLogHeaderBytes = 8;
inline constexpr std::size_t kLogRecordHeaderBytes = 12;
// A larger declared record length is damage, not a change still being written. Readers never
// allocate more than the file holds, so the limit only has to lie above any real change.
inline constexpr std::size_t kMaxLogRecordBytes = std::size_t{1} << 30;

enum class LogTail {
  End,         // every byte was a whole record
  Incomplete,  // the bytes end inside a record (or the file header)
  Corrupt,     // a record fails its length limit or checksum
  NotALog,     // the file header is not ours
};

struct LogScan {
  std::vector<Change> changes;
  // Bytes of the header and whole, valid records: where the next read resumes.
  std::size_t consumed = 0;
  LogTail tail = LogTail::End;
  // Incomplete: the size of the record (or header) the bytes end in, when its header was read.
  std::size_t needed = 0;
  // Corrupt or NotALog: what is wrong.
  std::string problem;
  // Intact records whose change could not be decoded (e.g. written by a newer version); skipped.
  std::vector<Error> skipped;
};

// Scans records from the start of `bytes`; `at_file_start` when they begin with the file header.
LogScan scan_log(std::span<const std::uint8_t> bytes, bool at_file_start);

std::vector<std::uint8_t> log_file_header();
std::vector<std::uint8_t> log_record(const Change& change);

}  // namespace kivo::doc
