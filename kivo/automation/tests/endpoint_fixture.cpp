#include "endpoint_fixture.h"

#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace kivo::automation::test {

void EndpointTest::SetUp() {
  register_edit(host_->registry);
  app_.attach_action_host(host_);
  window_.paint();
  auto started = Endpoint::start(socket());
  ASSERT_TRUE(started) << started.error();
  endpoint_ = std::move(*started);
  auto client = Client::connect(socket());
  ASSERT_TRUE(client) << client.error();
  client_ = std::make_unique<Client>(std::move(*client));
}

void EndpointTest::pump(std::chrono::milliseconds wait) {
  pollfd pfd{endpoint_->wake_fd(), POLLIN, 0};
  if (::poll(&pfd, 1, static_cast<int>(wait.count())) > 0) {
    endpoint_->serve([this](const Request& request) {
      observed_.push_back(request.name);
      return handler_.handle(request);
    });
  }
  if (ui_host_.paint_requested()) ui_host_.paint_now();
}

Client EndpointTest::connect() {
  auto client = Client::connect(socket());
  if (!client) {
    ADD_FAILURE() << client.error();
    std::abort();
  }
  return std::move(*client);
}

std::optional<nlohmann::json> EndpointTest::next_reply(Client& client) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    pump();
    auto line = client.read_line_for(1ms);
    if (!line) return std::nullopt;  // closed
    if (*line) {
      auto reply = nlohmann::json::parse(**line, nullptr, false);
      EXPECT_TRUE(reply.is_object()) << **line;
      return reply;
    }
  }
  ADD_FAILURE() << "no reply within 5 s";
  return std::nullopt;
}

nlohmann::json EndpointTest::call(Client& client, std::string_view line) {
  EXPECT_TRUE(client.send_raw(std::string(line) + "\n"));
  auto reply = next_reply(client);
  return reply ? *reply : nlohmann::json(nullptr);
}

nlohmann::json EndpointTest::call(Client& client, const nlohmann::json& request) {
  return call(client, std::string_view(request.dump()));
}

nlohmann::json EndpointTest::call(const nlohmann::json& request) { return call(*client_, request); }

void EndpointTest::expect_serving(Client& client) {
  const nlohmann::json reply = call(client, nlohmann::json{{"command", "resources"}});
  EXPECT_EQ(reply["ok"], true) << reply;
}

ProcessResult EndpointTest::run_pumped(const std::vector<std::string>& argv) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ProcessResult result;
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    result.err = std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
    return result;
  }
  const auto drain = [](int fd, std::string& into) {
    char buffer[4096];
    while (true) {
      pollfd pfd{fd, POLLIN, 0};
      if (::poll(&pfd, 1, 0) <= 0) return;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return;
      into.append(buffer, static_cast<std::size_t>(n));
    }
  };
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  int status = 0;
  bool exited = false;
  while (!exited) {
    pump();
    drain(out_pipe[0], result.out);
    drain(err_pipe[0], result.err);
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << argv[0] << " did not finish within 30 s";
      break;
    }
  }
  drain(out_pipe[0], result.out);
  drain(err_pipe[0], result.err);
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  if (exited) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::optional<DecodedPng> decode_png(const std::vector<std::uint8_t>& png) {
  struct Reader {
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;
  } reader{png};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(
      [](void* closure, unsigned char* data, unsigned int length) {
        auto& r = *static_cast<Reader*>(closure);
        if (r.bytes.size() - r.at < length) return CAIRO_STATUS_READ_ERROR;
        std::memcpy(data, r.bytes.data() + r.at, length);
        r.at += length;
        return CAIRO_STATUS_SUCCESS;
      },
      &reader);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return std::nullopt;
  }
  DecodedPng out;
  out.width = cairo_image_surface_get_width(surface);
  out.height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      std::uint32_t pixel = 0;
      std::memcpy(&pixel, data + y * stride + x * 4, 4);
      out.pixels.push_back(pixel);
    }
  }
  cairo_surface_destroy(surface);
  return out;
}

}  // namespace kivo::automation::test
