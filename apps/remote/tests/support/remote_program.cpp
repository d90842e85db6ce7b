#include "remote_program.h"

#include <sys/stat.h>

#include <fstream>

namespace remote::test {

using namespace std::chrono_literals;
using nlohmann::json;

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
          {"REMOTE_LIVE_SESSIONS", ""}};
  for (auto& [name, value] : extra) env_[name] = std::move(value);
  restart();
}

void RemoteProgram::restart() {
  process_.reset();
  process_.emplace(Process::start({built_program("apps/remote/remote").string()}, env_, home_ / "remote.log"));
}

bool RemoteProgram::wait_until_ready(std::chrono::milliseconds timeout) {
  return eventually([&] { return ctl({"tree"}).has_value() || !process_->running(); }, timeout) &&
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
      timeout);
  if (!held) return std::nullopt;
  return seen;
}

bool RemoteProgram::xdo(std::vector<std::string> args) const {
  args.insert(args.begin(), "xdotool");
  // xdotool takes its display from the environment only.
  ::setenv("DISPLAY", xvfb_->display().c_str(), 1);
  return run_output(args, 10s).has_value();
}

bool RemoteProgram::point_at(const json& element) const {
  if (!element.contains("bounds")) return false;
  const auto& b = element["bounds"];
  const int x = static_cast<int>(b["x"].get<double>() + b["w"].get<double>() / 2);
  const int y = static_cast<int>(b["y"].get<double>() + b["h"].get<double>() / 2);
  return xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
}

std::string RemoteProgram::log() const {
  std::ifstream in(home_ / "remote.log");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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

}  // namespace remote::test
