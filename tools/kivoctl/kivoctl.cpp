// kivoctl: drives a running application through its automation endpoint.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "kivo/automation/client.h"
#include "kivo/automation/paths.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr std::string_view kUsage = R"(usage: kivoctl [options] COMMAND [ARGUMENTS]

commands:
  resources                          list resources and their actions
  dispatch TYPE JSON                 dispatch an encoded action (e.g. a document edit)
  invoke RESOURCE ACTION [KEY=VALUE ...] [--wait]
                                     invoke an action; --wait follows a background
                                     operation until it finishes
  poll ID [--cancel]                 ask how a background operation is doing
  tree                               print the accessibility tree
  press ELEMENT [primary|focus|toggle|set-value TEXT|scroll]
                                     perform a semantic action (default primary)
  screenshot FILE                    write a PNG of the window
  journal [SINCE]                    list journalled document actions after SINCE

options:
  --app ID          application id (default io.kivo.remote)
  --socket PATH     endpoint socket (default from the application id)
  --json            print replies as JSON
  --timeout SECONDS how long --wait waits (default 120)

exit status: 0 success, 1 refused or failed, 2 usage, 3 endpoint unreachable
)";

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kUnreachable = 3;
constexpr auto kRequestTimeout = 30s;
constexpr auto kPollInterval = 100ms;

struct Options {
  std::string app_id = "io.kivo.remote";
  std::optional<std::string> socket;
  bool json = false;
  double timeout_seconds = 120;
  bool wait = false;
  bool cancel = false;
  std::vector<std::string> words;  // the command and its arguments
};

std::optional<Options> parse_options(int argc, char** argv, std::string& error) {
  Options options;
  bool only_words = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (only_words || arg.size() < 2 || arg.substr(0, 2) != "--") {
      options.words.emplace_back(arg);
    } else if (arg == "--") {
      only_words = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--wait") {
      options.wait = true;
    } else if (arg == "--cancel") {
      options.cancel = true;
    } else if (arg == "--app") {
      auto v = value();
      if (!v) return std::nullopt;
      options.app_id = *v;
    } else if (arg == "--socket") {
      auto v = value();
      if (!v) return std::nullopt;
      options.socket = *v;
    } else if (arg == "--timeout") {
      auto v = value();
      if (!v) return std::nullopt;
      char* end = nullptr;
      options.timeout_seconds = std::strtod(v->c_str(), &end);
      if (end == v->c_str() || *end != '\0' || !(options.timeout_seconds > 0) || options.timeout_seconds > 86400) {
        error = "--timeout needs a number of seconds between 0 and 86400";
        return std::nullopt;
      }
    } else if (arg == "--help") {
      std::fputs(kUsage.data(), stdout);
      std::exit(0);
    } else {
      error = "unknown option " + std::string(arg);
      return std::nullopt;
    }
  }
  if (options.words.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  return options;
}

void print_json(const json& value) {
  std::cout << value.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
}

// Prints a refusal: the reply itself with --json, else its sentence on standard error.
int refused(const Options& options, const json& reply) {
  if (options.json) {
    print_json(reply);
    return kFailed;
  }
  std::string message = reply.value("error", std::string("the request failed"));
  if (reply.contains("unavailable") && reply["unavailable"].is_object()) {
    message += " (unavailable: " + reply["unavailable"].value("code", std::string()) + ")";
  } else if (reply.contains("code") && reply["code"].is_string()) {
    message += " (" + reply["code"].get<std::string>() + ")";
  }
  std::cerr << "kivoctl: " << message << '\n';
  return kFailed;
}

std::string as_json_text(const json& text) { return text.dump(-1, ' ', false, json::error_handler_t::replace); }

void print_resource(const json& resource, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  std::cout << indent << resource.value("id", "") << "  (" << resource.value("kind", "") << ")  "
            << as_json_text(resource.value("label", "")) << '\n';
  for (const json& action : resource.value("actions", json::array())) {
    std::cout << indent << "  - " << action.value("name", "") << ": " << action.value("label", "") << "  ["
              << action.value("risk_name", "") << "]";
    if (action.value("arguments", false) && action.contains("input_schema")) {
      std::string keys;
      const json properties = action["input_schema"].value("properties", json::object());
      for (const auto& [key, _] : properties.items()) keys += keys.empty() ? key : ", " + key;
      std::cout << "  arguments: " << keys;
    }
    if (action.value("destructive", false)) std::cout << "  destructive";
    if (action.contains("contract") && action["contract"].is_object()) {
      std::string tags;
      for (const auto& tag : action["contract"].value("capabilities", json::array())) {
        tags += (tags.empty() ? "" : ", ") + tag.get<std::string>();
      }
      std::cout << "  needs: " << tags;
    }
    if (action.contains("unavailable") && action["unavailable"].is_object()) {
      std::cout << "  unavailable (" << action["unavailable"].value("code", "")
                << "): " << action["unavailable"].value("reason", "");
    }
    std::cout << '\n';
    if (action.contains("description") && action["description"].is_string()) {
      std::cout << indent << "      " << action["description"].get<std::string>() << '\n';
    }
  }
  for (const json& child : resource.value("children", json::array())) print_resource(child, depth + 1);
}

void print_node(const json& node, int depth) {
  std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node.value("role", "") << ' '
            << (node.value("id", "").empty() ? "-" : node.value("id", "")) << ' ' << as_json_text(node.value("label", ""));
  if (!node.value("value", "").empty()) std::cout << " = " << as_json_text(node.value("value", ""));
  if (node.value("selected", false)) std::cout << " [selected]";
  if (node.value("focused", false)) std::cout << " [focused]";
  const json actions = node.value("actions", json::array());
  if (!actions.empty()) {
    std::string names;
    for (const auto& a : actions) names += (names.empty() ? "" : ", ") + a.get<std::string>();
    std::cout << " {" << names << '}';
  }
  std::cout << '\n';
  for (const json& child : node.value("children", json::array())) print_node(child, depth + 1);
}

class Session {
 public:
  explicit Session(kivo::automation::Client client) : client_(std::move(client)) {}

  // The reply; none (after saying why) when there is none to be had.
  std::optional<json> request(json request) {
    auto reply = client_.request(request, kRequestTimeout);
    if (!reply) {
      std::cerr << "kivoctl: " << reply.error() << '\n';
      return std::nullopt;
    }
    return std::move(*reply);
  }

 private:
  kivo::automation::Client client_;
};

json caller() { return {{"app_id", "io.kivo.kivoctl"}, {"app_name", "kivoctl"}}; }

// Polls every kPollInterval until the operation finishes or the time is up; a timed-out
// operation is cancelled, so it does not hold the application's one background slot.
int wait_for(Session& session, const Options& options, const std::string& invocation) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(options.timeout_seconds));
  while (true) {
    const bool late = std::chrono::steady_clock::now() >= deadline;
    auto reply = session.request({{"command", "poll"}, {"invocation", invocation}, {"cancel", late}});
    if (!reply) return kUnreachable;
    if (!reply->value("ok", false)) return refused(options, *reply);
    const std::string outcome = reply->value("outcome", "");
    if (outcome != "nothing_yet") {
      if (options.json) {
        print_json(*reply);
      } else if (outcome == "completed") {
        std::cout << "completed\n";
      } else if (outcome == "failed") {
        std::cout << "failed " << reply->value("code", "") << ": " << reply->value("message", "") << '\n';
      } else {
        if (late) std::cout << "timed out after " << options.timeout_seconds << " s; ";
        std::cout << outcome << ": " << reply->value("message", "") << '\n';
      }
      return outcome == "completed" ? 0 : kFailed;
    }
    if (late) {
      // The application could not cancel it; it goes on, and the id can still be polled.
      std::cerr << "kivoctl: timed out after " << options.timeout_seconds << " s; invocation " << invocation
                << " is still running\n";
      return kFailed;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

int run(const Options& options) {
  const auto& words = options.words;
  const std::string& command = words[0];
  const auto arity = [&](std::size_t least, std::size_t most) { return words.size() >= least && words.size() <= most; };

  json request;
  if (command == "resources" && arity(1, 1)) {
    request = {{"command", "resources"}};
  } else if (command == "tree" && arity(1, 1)) {
    request = {{"command", "tree"}};
  } else if (command == "journal" && arity(1, 2)) {
    request = {{"command", "journal"}};
    if (words.size() == 2) {
      char* end = nullptr;
      errno = 0;
      const unsigned long long since = std::strtoull(words[1].c_str(), &end, 10);
      if (words[1].empty() || *end != '\0' || words[1][0] == '-' || errno == ERANGE) {
        std::cerr << "kivoctl: SINCE must be a journal sequence number\n";
        return kUsageError;
      }
      request["since"] = since;
    }
  } else if (command == "dispatch" && arity(3, 3)) {
    json payload = json::parse(words[2], nullptr, false);
    if (payload.is_discarded()) {
      std::cerr << "kivoctl: the payload is not valid JSON\n";
      return kUsageError;
    }
    request = {{"command", "dispatch"}, {"type", words[1]}, {"payload", std::move(payload)}, {"caller", caller()}};
  } else if (command == "invoke" && words.size() >= 3) {
    json arguments = json::object();
    for (std::size_t i = 3; i < words.size(); ++i) {
      const auto eq = words[i].find('=');
      if (eq == std::string::npos || eq == 0) {
        std::cerr << "kivoctl: invoke arguments are KEY=VALUE, not \"" << words[i] << "\"\n";
        return kUsageError;
      }
      arguments[words[i].substr(0, eq)] = words[i].substr(eq + 1);
    }
    request = {{"command", "invoke"},
               {"resource", words[1]},
               {"action", words[2]},
               {"arguments", std::move(arguments)},
               {"caller", caller()}};
  } else if (command == "poll" && arity(2, 2)) {
    request = {{"command", "poll"}, {"invocation", words[1]}, {"cancel", options.cancel}};
  } else if (command == "press" && arity(2, 4)) {
    const std::string action = words.size() >= 3 ? words[2] : "primary";
    request = {{"command", "semantic-action"}, {"element", words[1]}, {"action", action}};
    if (action == "set-value") {
      if (words.size() != 4) {
        std::cerr << "kivoctl: set-value needs the TEXT to set\n";
        return kUsageError;
      }
      request["value"] = words[3];
    } else if (words.size() == 4) {
      std::cerr << "kivoctl: only set-value takes a text\n";
      return kUsageError;
    }
  } else if (command == "screenshot" && arity(2, 2)) {
    request = {{"command", "screenshot"}};
  } else {
    std::cerr << "kivoctl: unknown command or wrong arguments: " << command << "\n\n" << kUsage;
    return kUsageError;
  }

  std::filesystem::path socket;
  if (options.socket) {
    socket = *options.socket;
  } else {
    auto path = kivo::automation::socket_path(options.app_id);
    if (!path) {
      std::cerr << "kivoctl: " << path.error() << '\n';
      return kUsageError;
    }
    socket = *path;
  }
  auto client = kivo::automation::Client::connect(socket);
  if (!client) {
    std::cerr << "kivoctl: " << client.error() << " (is the application running with automation on?)\n";
    return kUnreachable;
  }
  Session session(std::move(*client));
  auto reply = session.request(request);
  if (!reply) return kUnreachable;
  if (!reply->value("ok", false)) return refused(options, *reply);

  if (command == "screenshot") {
    const auto png = kivo::automation::base64_decode(reply->value("png_base64", ""));
    if (!png) {
      std::cerr << "kivoctl: the screenshot is not valid base64\n";
      return kFailed;
    }
    std::ofstream out(words[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    out.close();
    if (!out) {
      std::cerr << "kivoctl: cannot write " << words[1] << '\n';
      return kFailed;
    }
    reply->erase("png_base64");
    (*reply)["path"] = words[1];
    if (options.json) {
      print_json(*reply);
    } else {
      std::cout << "wrote " << words[1] << " (" << reply->value("width", 0) << " x " << reply->value("height", 0)
                << ")\n";
    }
    return 0;
  }
  if (command == "invoke" && options.wait && reply->value("outcome", "") == "started") {
    return wait_for(session, options, reply->value("invocation", ""));
  }
  if (options.json) {
    print_json(*reply);
  } else if (command == "resources") {
    for (const json& resource : reply->value("resources", json::array())) print_resource(resource, 0);
  } else if (command == "tree") {
    print_node(reply->value("tree", json::object()), 0);
  } else if (command == "journal") {
    for (const json& entry : reply->value("entries", json::array())) {
      std::cout << entry.value("sequence", 0) << "  " << entry.value("type_name", "");
      if (entry.contains("caller") && entry["caller"].is_object()) {
        const json& who = entry["caller"];
        std::cout << "  " << as_json_text(who.value("label", "")) << " by " << who.value("app_name", "") << " ("
                  << who.value("app_id", "") << ")";
      }
      std::cout << "  " << entry.value("payload", "") << '\n';
    }
  } else if (command == "dispatch" || (command == "invoke" && reply->value("route", "") == "document")) {
    std::cout << (reply->value("committed", false) ? "committed" : "nothing changed");
    if (reply->contains("journal_sequence") && (*reply)["journal_sequence"].is_number()) {
      std::cout << " (journal " << (*reply)["journal_sequence"].get<std::uint64_t>() << ")";
    }
    std::cout << '\n';
  } else if (command == "invoke") {
    const std::string outcome = reply->value("outcome", "");
    std::cout << outcome;
    if (outcome == "started") std::cout << ' ' << reply->value("invocation", "");
    std::cout << '\n';
  } else if (command == "poll") {
    const std::string outcome = reply->value("outcome", "");
    std::cout << outcome;
    if (outcome == "failed") std::cout << ' ' << reply->value("code", "") << ": " << reply->value("message", "");
    if (outcome == "cancelled") std::cout << ": " << reply->value("message", "");
    std::cout << '\n';
  } else if (command == "press") {
    std::cout << (reply->value("handled", false) ? "handled" : "not handled") << '\n';
  }
  if (command == "press" && !reply->value("handled", false)) return kFailed;
  if (command == "poll") {
    const std::string outcome = reply->value("outcome", "");
    if (outcome == "failed" || outcome == "cancelled") return kFailed;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = parse_options(argc, argv, error);
  if (!options) {
    std::cerr << "kivoctl: " << error << "\n\n" << kUsage;
    return kUsageError;
  }
  return run(*options);
}
