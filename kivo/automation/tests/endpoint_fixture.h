#pragma once
// A running endpoint in front of the test application in an offscreen window. The test thread
// is the UI thread: pump() answers what arrived, as the window's loop would between frames.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kivo/automation/client.h"
#include "kivo/automation/endpoint.h"
#include "kivo/automation/handler.h"
#include "kivo/automation/hosts.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"
#include "kivo/testing/temp_dir.h"
#include "test_app.h"

namespace kivo::automation::test {

using namespace std::chrono_literals;

using kivo::testing::TempDir;

struct ProcessResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it had to be killed
  std::string out;
  std::string err;
};

class EndpointTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 320;
  static constexpr int kHeight = 240;

  void SetUp() override;

  // One turn of the UI thread: waits up to `wait` for requests, answers them, paints if asked.
  void pump(std::chrono::milliseconds wait = 5ms);
  Client connect();
  // Sends `line` (a newline is added) and pumps until the reply comes, at most 5 s.
  nlohmann::json call(Client& client, std::string_view line);
  nlohmann::json call(Client& client, const nlohmann::json& request);
  nlohmann::json call(const nlohmann::json& request);
  // Pumps until a line arrives or the connection closes (none), at most 5 s.
  std::optional<nlohmann::json> next_reply(Client& client);
  // Expects `client` to get an answer to a plain request.
  void expect_serving(Client& client);
  // Runs a program to its end (at most 30 s) while pumping.
  ProcessResult run_pumped(const std::vector<std::string>& argv);

  std::filesystem::path socket() const { return dir_.path() / "kivo" / "test.sock"; }

  TempDir dir_;
  doc::Document document_;
  std::shared_ptr<ui::ActionHost> host_ = std::make_shared<ui::ActionHost>();
  TestApp app_;
  ui::offscreen::OffscreenWindow window_{app_, kWidth, kHeight};
  OffscreenHost ui_host_{window_, app_, *host_, document_};
  RequestHandler handler_{ui_host_};
  std::unique_ptr<Endpoint> endpoint_;
  std::unique_ptr<Client> client_;
  std::vector<std::string> observed_;  // command names, as the launch hook sees them
};

// The width and height a PNG's header announces, and the 0xAARRGGBB pixel at (x, y).
struct DecodedPng {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};
std::optional<DecodedPng> decode_png(const std::vector<std::uint8_t>& png);

}  // namespace kivo::automation::test
