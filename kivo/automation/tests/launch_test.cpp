// A launched program in a real window on a private X server, driven through the endpoint that
// run_or_exit starts: requests are answered by the window's loop, edits reach the application
// before the reply, and the socket goes away with the program.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "endpoint_fixture.h"
#include "kivo/automation/client.h"

extern char** environ;

namespace kivo::automation::test {
namespace {

using nlohmann::json;

// A child process with its own environment; killed and reaped when it goes away.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
        const std::filesystem::path& log, int extra_fd = -1) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const auto name = entry.substr(0, entry.find('='));
      if (!env.contains(name) && name != "KIVO_SYNC_DIR" && name != "KIVO_REVIEW_STATE") environment.push_back(entry);
    }
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (extra_fd >= 0) posix_spawn_file_actions_adddup2(&actions, extra_fd, 3);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool running() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  std::optional<int> wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    return status_;
  }
  void signal(int sig) const { ::kill(pid_, sig); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Xvfb on a display number it picks itself and reports once it accepts clients.
struct Xvfb {
  std::unique_ptr<Child> process;
  std::string display;

  static std::optional<Xvfb> start(const std::filesystem::path& log) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    Xvfb x;
    x.process = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
        std::map<std::string, std::string>{}, log, fds[1]);
    ::close(fds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{fds[0], POLLIN, 0};
      if (::poll(&pfd, 1, 100) <= 0) continue;
      char buffer[16];
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) return std::nullopt;
    x.display = ":" + number.substr(0, number.find('\n'));
    return x;
  }
};

const json* find_node(const json& node, std::string_view id) {
  if (node["id"] == id) return &node;
  for (const auto& child : node["children"]) {
    if (const json* hit = find_node(child, id)) return hit;
  }
  return nullptr;
}

TEST(Launch, TheWindowServesAutomationUntilTheProgramEnds) {
  const char* bin = std::getenv("REMOTE_BINARY_DIR");
  ASSERT_NE(bin, nullptr);
  const std::filesystem::path probe = std::filesystem::path(bin) / "kivo/automation/tests/kivo_launch_probe";
  const std::filesystem::path kivoctl = std::filesystem::path(bin) / "tools/kivoctl/kivoctl";
  TempDir home;
  auto xvfb = Xvfb::start(home.path() / "xvfb.log");
  ASSERT_TRUE(xvfb) << "Xvfb did not start:\n" << read_file(home.path() / "xvfb.log");
  const auto runtime = home.path() / "run";
  std::filesystem::create_directory(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  // SDL's D-Bus connection (for input methods) is never freed and cannot be suppressed by
  // name, since its stacks do not symbolise; the program's own leaks are left to the tests
  // that run the endpoint in-process.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asan_options = std::string(asan ? asan : "") + ":detect_leaks=0";
  const std::map<std::string, std::string> env = {{"DISPLAY", xvfb->display},
                                                  {"XDG_RUNTIME_DIR", runtime.string()},
                                                  {"XDG_DATA_HOME", (home.path() / "data").string()},
                                                  {"ASAN_OPTIONS", asan_options},
                                                  // Mesa's render threads are not instrumented for
                                                  // the thread sanitizer; SDL's software renderer
                                                  // and plain window surface use none.
                                                  {"SDL_RENDER_DRIVER", "software"},
                                                  {"SDL_FRAMEBUFFER_ACCELERATION", "0"}};
  const auto log = home.path() / "probe.log";
  Child program({probe.string()}, env, log);
  const auto socket = runtime / "kivo" / "io.kivo.probe.sock";

  std::optional<Client> client;
  ASSERT_TRUE(eventually(
      [&] {
        if (auto connected = Client::connect(socket)) client.emplace(std::move(*connected));
        return client.has_value() || !program.running();
      },
      20s))
      << "no endpoint after 20 s:\n" << read_file(log);
  ASSERT_TRUE(client) << "the program exited:\n" << read_file(log);

  const auto call = [&](const json& request) {
    auto reply = client->request(request, 10s);
    EXPECT_TRUE(reply) << reply.error();
    return reply ? *reply : json(nullptr);
  };
  const json edit = call({{"command", "dispatch"}, {"type", "test.edit"}, {"payload", {{"SetName", "Delta"}}}});
  ASSERT_EQ(edit["ok"], true) << edit << read_file(log);
  EXPECT_EQ(edit["committed"], true);
  const json tree = call({{"command", "tree"}});
  const json* name = find_node(tree["tree"], "test.name");
  ASSERT_NE(name, nullptr) << tree;
  EXPECT_EQ((*name)["value"], "Delta");

  EXPECT_EQ(call({{"command", "semantic-action"}, {"element", "test.button"}})["handled"], true);
  const json shot = call({{"command", "screenshot"}});
  ASSERT_EQ(shot["ok"], true);
  const auto png = base64_decode(shot["png_base64"].get<std::string>());
  ASSERT_TRUE(png);
  const auto picture = decode_png(*png);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, shot["width"].get<int>());
  EXPECT_GE(picture->width, 480);
  EXPECT_EQ(picture->at(picture->width * 20 / 480, picture->height * 20 / 480), TestApp::kPressedColor);

  // kivoctl finds the same socket from the application id alone.
  const auto ctl_log = home.path() / "kivoctl.out";
  Child ctl({kivoctl.string(), "--app", "io.kivo.probe", "--json", "journal"}, env, ctl_log);
  EXPECT_EQ(ctl.wait(20s), 0) << read_file(ctl_log);
  const json journal = json::parse(read_file(ctl_log), nullptr, false);
  ASSERT_TRUE(journal.is_object()) << read_file(ctl_log);
  ASSERT_EQ(journal["entries"].size(), 1u);
  EXPECT_EQ(journal["entries"][0]["caller"]["label"], "Set name");

  // A second instance runs without an endpoint rather than taking over the first one's.
  const auto second_log = home.path() / "second.log";
  Child second({probe.string()}, env, second_log);
  EXPECT_TRUE(eventually([&] { return read_file(second_log).find("automation endpoint not started") != std::string::npos; },
                         20s))
      << read_file(second_log);
  EXPECT_NE(read_file(second_log).find("another instance is already serving automation"), std::string::npos);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(second.running()) << read_file(second_log);
  EXPECT_EQ(call({{"command", "resources"}})["ok"], true);
  second.signal(SIGTERM);
  EXPECT_EQ(second.wait(20s), 0) << read_file(second_log);
  EXPECT_TRUE(std::filesystem::exists(socket)) << "the second instance removed the first one's socket";

  client.reset();
  program.signal(SIGTERM);
  EXPECT_EQ(program.wait(20s), 0) << read_file(log);
  EXPECT_FALSE(std::filesystem::exists(socket));
  const std::string said = read_file(log);
  for (const char* command : {"dispatch", "tree", "semantic-action", "screenshot", "journal", "resources"}) {
    EXPECT_NE(said.find(std::string("automation request: ") + command + "\n"), std::string::npos) << command << said;
  }
}

}  // namespace
}  // namespace kivo::automation::test
