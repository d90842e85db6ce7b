// Paints of the session screen's terminal and of the connection form at 1280 × 800,
// offscreen.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "app/remote_app.h"
#include "fixtures.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"
#include "vt/terminal_screen.h"

namespace {

using remote::app::RemoteApp;
namespace msg = remote::app::msg;

// One row of 80 columns cut into short runs: the sixteen colours, bold and plain.
std::string busy_row(int row, int salt) {
  static const char* kWords[] = {"build", "ok", "src/app", "warning", "12.4ms", "->", "deploy", "PID", "main"};
  std::string out = "\x1b[" + std::to_string(row + 1) + ";1H";
  int column = 0;
  for (int i = 0; column < 80; ++i) {
    std::string word = kWords[(row * 7 + i + salt) % 9];
    if (i % 5 == 0) word += std::to_string(salt % 1000);
    word = word.substr(0, static_cast<std::size_t>(80 - column));
    const int style = (row + i) % 4;
    const int colour = (row * 3 + i) % 16;
    if (style == 0) {
      out += "\x1b[0m";
    } else {
      out += "\x1b[0;" + std::string(style == 1 ? "1;" : "") + std::to_string(colour < 8 ? 30 + colour : 82 + colour) + "m";
    }
    out += word;
    column += static_cast<int>(word.size());
    if (column < 80) {
      out += "\x1b[0m ";
      ++column;
    }
  }
  return out + "\x1b[0m";
}

remote::vt::TerminalScreen busy_screen(int salt) {
  remote::vt::TerminalScreen screen(80, 24);
  for (int row = 0; row < 24; ++row) screen.feed(busy_row(row, salt));
  screen.feed("\x1b[24;40H");
  return screen;
}

const remote::doc::ConnectionProfile& build_box() {
  static const auto profiles = remote::test::fixture_profiles();
  return profiles.front();
}

// Every benchmark sees the same environment, whichever runs first or alone.
const bool kLiveSessions = (::setenv("REMOTE_LIVE_SESSIONS", "", 1), true);

benchmark::internal::Benchmark* with_median(benchmark::internal::Benchmark* b) {
  return b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

// The same screen every frame: text layouts are reused from the renderer's cache.
void BM_PaintTerminal(benchmark::State& state) {
  RemoteApp app(remote::test::fixture_profiles(), {});
  app.set_reduced_motion(true);
  app.show_preview(build_box().id, remote::session::Preview{remote::session::Connected{}, busy_screen(0), std::nullopt});
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  window.paint();
  for (auto _ : state) window.paint();
  state.SetLabel("80x24, every row in coloured, bold and plain runs");
}
BENCHMARK(BM_PaintTerminal)->Apply([](auto* b) { with_median(b); });

// Output scrolls one new line in before each paint, as a busy shell does.
void BM_PaintTerminalScrolling(benchmark::State& state) {
  RemoteApp app(remote::test::fixture_profiles(), {});
  app.set_reduced_motion(true);
  remote::vt::TerminalScreen screen = busy_screen(0);
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  int salt = 1;
  for (auto _ : state) {
    screen.feed("\r\n" + busy_row(23, salt++).substr(7));
    app.show_preview(build_box().id, remote::session::Preview{remote::session::Connected{}, screen, std::nullopt});
    window.paint();
  }
  state.SetLabel("one new line per paint");
}
BENCHMARK(BM_PaintTerminalScrolling)->Apply([](auto* b) { with_median(b); });

void BM_PaintForm(benchmark::State& state) {
  RemoteApp app(remote::test::fixture_profiles(), {});
  app.set_reduced_motion(true);
  kivo::doc::Document document;
  app.update(msg::OpenEditForm{build_box().id}, document);
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  window.paint();
  for (auto _ : state) window.paint();
  state.SetLabel("editing an SSH profile");
}
BENCHMARK(BM_PaintForm)->Apply([](auto* b) { with_median(b); });

}  // namespace

BENCHMARK_MAIN();
