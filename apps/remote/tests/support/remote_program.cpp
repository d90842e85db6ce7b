#include "remote_program.h"

#include <sys/stat.h>

#include <algorithm>


namespace remote::test {

using namespace std::chrono_literals;
using nlohmann::json;

namespace {
constexpr auto kProgramPoll = 100ms;
}  // namespace

RemoteProgram::RemoteProgram(const Xvfb& xvfb, std::filesystem::path home, Environment extra)
    : xvfb_(&xvfb), home_(std::move(home)) {
  std::filesystem::create_directories(home_ / "run");
  ::chmod((home_ / "run").c_str(), 0700);
  env_ = {{"DISPLAY", xvfb.display()},
          {"XDG_DATA_HOME", (home_ / "data").string()},
          {"XDG_STATE_HOME", (home_ / "state").string()},
          {"XDG_RUNTIME_DIR", (home_ / "run").string()},
          {"KIVO_SYNC_DIR", std::nullopt},
          {"KIVO_REVIEW_STATE", std::nullopt},
          {"KIVO_REMOTE_SAMPLE", std::nullopt},
          {"KIVO_REDUCED_MOTION", "1"},
          {"REMOTE_SSH_KNOWN_HOSTS", std::nullopt},
          {"REMOTE_SSH_KEY", std::nullopt},
          {"REMOTE_SSH_KEY_PASSPHRASE", std::nullopt},
          {"REMOTE_SSH_PASSWORD", std::nullopt},
          {"REMOTE_LIVE_SESSIONS", ""}};
  for (auto& [name, value] : extra) env_[name] = std::move(value);
  restart();
}

void RemoteProgram::restart() {
  process_.reset();
  process_.emplace(Process::start({built_program("apps/remote/remote").string()}, env_, home_ / "remote.log"));
}

std::optional<unsigned long> RemoteProgram::wait_for_window(std::chrono::milliseconds timeout) {
  std::optional<unsigned long> window;
  eventually([&] { return (window = xvfb_->find_window("Remote")).has_value() || !process_->running(); }, timeout);
  return window;
}

bool RemoteProgram::wait_until_ready(std::chrono::milliseconds timeout) {
  // Each check starts kivoctl, so the polling is slower than for in-process checks.
  return eventually([&] { return ctl({"tree"}).has_value() || !process_->running(); }, timeout, kProgramPoll) &&
         process_->running();
}

std::optional<std::string> RemoteProgram::ctl(std::vector<std::string> args) const {
  std::vector<std::string> argv = {built_program("tools/kivoctl/kivoctl").string(), "--json", "--socket",
                                   (home_ / "run/kivo/io.kivo.remote.sock").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_output(argv, 15s);
}

bool RemoteProgram::dispatch(const json& action) const {
  return ctl({"dispatch", "remote.action", action.dump()}).has_value();
}

json RemoteProgram::tree() const {
  const auto reply = ctl({"tree"});
  if (!reply) return json::object();
  const json parsed = json::parse(*reply, nullptr, false);
  return parsed.is_object() && parsed.contains("tree") ? parsed["tree"] : json::object();
}

std::optional<json> RemoteProgram::await(const std::string& id, const std::function<bool(const json&)>& check,
                                         std::chrono::milliseconds timeout) const {
  std::optional<json> seen;
  const bool held = eventually(
      [&] {
        const json t = tree();
        const json* n = find_element(t, id);
        if (n == nullptr) return false;
        seen = *n;
        return check(*n);
      },
      timeout, kProgramPoll);
  if (!held) return std::nullopt;
  return seen;
}

bool RemoteProgram::xdo(std::vector<std::string> args) const {
  args.insert(args.begin(), "xdotool");
  // xdotool takes its display from the environment only.
  return run_output(args, 10s, {{"DISPLAY", xvfb_->display()}}).has_value();
}

bool RemoteProgram::point_at(const json& element) const {
  if (!element.contains("bounds")) return false;
  const auto& b = element["bounds"];
  const int x = static_cast<int>(b["x"].get<double>() + b["w"].get<double>() / 2);
  const int y = static_cast<int>(b["y"].get<double>() + b["h"].get<double>() / 2);
  return xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
}

std::string RemoteProgram::log() const { return read_file(home_ / "remote.log"); }

const json* find_element(const json& node, const std::string& id) {
  if (!node.is_object()) return nullptr;
  if (node.value("id", "") == id) return &node;
  if (!node.contains("children")) return nullptr;
  // By reference: the pointer returned must point into `node`, not into a copy.
  for (const auto& child : node["children"]) {
    if (const json* hit = find_element(child, id)) return hit;
  }
  return nullptr;
}

const json* find_resource(const json& resources, const std::string& id) {
  for (const json& r : resources) {
    if (r.value("id", "") == id) return &r;
    const auto children = r.find("children");
    if (children == r.end()) continue;
    if (const json* found = find_resource(*children, id)) return found;
  }
  return nullptr;
}

bool has_line(std::string_view text, std::string_view wanted) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (text.substr(start, end - start) == wanted) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace remote::test
