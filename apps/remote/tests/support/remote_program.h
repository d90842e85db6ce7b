#pragma once
// The real program running on a private X server with folders of its own, driven the way a
// user and a script would: xdotool for keyboard and mouse, kivoctl for the automation
// endpoint (whose accessibility tree says what the window shows).

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process.h"
#include "xvfb.h"

namespace remote::test {

class RemoteProgram {
 public:
  // Starts the program with its data, state and runtime folders under `home` and no
  // environment of the caller leaking in; `extra` adds to or overrides that environment.
  RemoteProgram(const Xvfb& xvfb, std::filesystem::path home, Environment extra = {});

  // Starts it again (after a kill) with the same folders and environment.
  void restart();
  // Waits until the top-level window is mapped; nullopt when the program exited first or
  // the time ran out.
  std::optional<unsigned long> wait_for_window(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits until the automation endpoint answers; false when the program exited first or
  // the time ran out.
  bool wait_until_ready(std::chrono::milliseconds timeout = std::chrono::seconds(20));

  // kivoctl's output for `args` (with --json), or nullopt when it failed.
  std::optional<std::string> ctl(std::vector<std::string> args) const;
  // Dispatches a `remote.action` payload; true when it was applied.
  bool dispatch(const nlohmann::json& action) const;
  // The accessibility tree of the last paint (an empty object when unreadable).
  nlohmann::json tree() const;
  // Waits until the element `id` exists and satisfies `check`; its last state, or nullopt.
  std::optional<nlohmann::json> await(const std::string& id, const std::function<bool(const nlohmann::json&)>& check,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // xdotool on the program's display; false when it failed.
  bool xdo(std::vector<std::string> args) const;
  // Moves the pointer to the middle of an element of the tree.
  bool point_at(const nlohmann::json& element) const;
  // Points at the element and presses the first button.
  bool click(const nlohmann::json& element) const { return point_at(element) && xdo({"click", "1"}); }

  // What the program printed so far.
  std::string log() const;
  Process& process() { return *process_; }

 private:
  const Xvfb* xvfb_;
  std::filesystem::path home_;
  Environment env_;
  std::optional<Process> process_;
};

// The element `id` in an accessibility tree (a pointer into `node`), or nullptr.
const nlohmann::json* find_element(const nlohmann::json& node, const std::string& id);
// The resource `id` among the "resources" of a resource-tree reply, at any depth, or nullptr.
const nlohmann::json* find_resource(const nlohmann::json& resources, const std::string& id);
// Whether `text` has a line that is exactly `wanted`.
bool has_line(std::string_view text, std::string_view wanted);

}  // namespace remote::test
