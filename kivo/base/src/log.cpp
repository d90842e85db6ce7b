#include "kivo/base/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace kivo {
namespace {

LogLevel threshold() {
  static const LogLevel level = [] {
    const char* value = std::getenv("KIVO_LOG");
    if (value == nullptr) return LogLevel::Info;
    if (std::strcmp(value, "debug") == 0) return LogLevel::Debug;
    if (std::strcmp(value, "warn") == 0) return LogLevel::Warn;
    if (std::strcmp(value, "error") == 0) return LogLevel::Error;
    return LogLevel::Info;
  }();
  return level;
}

const char* level_name(LogLevel level) {
  switch (level) {
    case LogLevel::Debug: return "DEBUG";
    case LogLevel::Info: return "INFO";
    case LogLevel::Warn: return "WARN";
    case LogLevel::Error: return "ERROR";
  }
  return "?";
}

}  // namespace

void log(LogLevel level, std::string_view target, std::string_view message) {
  if (level < threshold()) return;
  std::string line;
  line.reserve(target.size() + message.size() + 16);
  line += level_name(level);
  line += ' ';
  line += target;
  line += ": ";
  line += message;
  line += '\n';
  // One write per line so lines from several threads never interleave.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void fatal(std::string_view message) {
  log(LogLevel::Error, "fatal", message);
  std::abort();
}

}  // namespace kivo
