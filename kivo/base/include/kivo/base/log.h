#pragma once
// The framework's diagnostics facility: levelled lines on standard error.

#include <string_view>

namespace kivo {

enum class LogLevel { Debug, Info, Warn, Error };

// Writes one line "<level> <target>: <message>" to standard error. Lines below the
// level named by KIVO_LOG (debug, info, warn, error; default info) are dropped.
void log(LogLevel level, std::string_view target, std::string_view message);

inline void log_debug(std::string_view target, std::string_view message) { log(LogLevel::Debug, target, message); }
inline void log_info(std::string_view target, std::string_view message) { log(LogLevel::Info, target, message); }
inline void log_warn(std::string_view target, std::string_view message) { log(LogLevel::Warn, target, message); }
inline void log_error(std::string_view target, std::string_view message) { log(LogLevel::Error, target, message); }

// A broken invariant that no input can reach: logs the fixed message and aborts.
[[noreturn]] void fatal(std::string_view message);

}  // namespace kivo
