// The list screen with a thousand saved profiles: one paint at 1280 × 800, one key press
// handled, and one profile saved into a large persisted document.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "doc/store.h"
#include "fixtures.h"
#include "kivo/actions/executor.h"
#include "kivo/doc/document.h"
#include "kivo/doc/persist.h"
#include "kivo/ui/offscreen.h"

namespace {

using remote::app::RemoteApp;

// Every benchmark sees the same environment, whichever runs first or alone.
const bool kLiveSessions = (::setenv("REMOTE_LIVE_SESSIONS", "", 1), true);

std::vector<remote::doc::ConnectionProfile> thousand_profiles() {
  const auto base = remote::test::fixture_profiles();
  std::vector<remote::doc::ConnectionProfile> out;
  for (int i = 0; i < 1000; ++i) {
    auto p = base[static_cast<std::size_t>(i) % base.size()];
    p.id = kivo::Uuid::new_v4();
    p.name += " " + std::to_string(i);
    p.favorite = i % 17 == 0;
    out.push_back(std::move(p));
  }
  return out;
}

void BM_PaintListOfThousand(benchmark::State& state) {
  RemoteApp app(thousand_profiles(), {});
  app.set_reduced_motion(true);
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  window.paint();
  for (auto _ : state) {
    window.paint();
  }
  state.SetLabel("1000 profiles, 1280x800");
}
BENCHMARK(BM_PaintListOfThousand)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_KeyPress(benchmark::State& state) {
  RemoteApp app(thousand_profiles(), {});
  kivo::doc::Document document;
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  window.set_document(&document);
  window.paint();
  const kivo::ui::KeyEvent down{.key = kivo::ui::Key::named("ArrowDown")};
  const kivo::ui::KeyEvent up{.key = kivo::ui::Key::named("ArrowUp")};
  bool flip = false;
  for (auto _ : state) {
    window.send((flip = !flip) ? down : up);
  }
  state.SetLabel("ArrowDown/ArrowUp on a list of 1000");
}
BENCHMARK(BM_KeyPress)->Unit(benchmark::kMicrosecond);

// Saving one profile the way the interface does (encoded, journalled, applied in one
// transaction, committed and appended to the device's change log) into a document that
// already holds 10,000.
void BM_SaveProfileAmongTenThousand(benchmark::State& state) {
  std::string folder = (std::filesystem::temp_directory_path() / "remote-bench.XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const kivo::doc::persist::Location location{.folder = folder, .device_dir = folder};
  auto persisted = kivo::doc::persist::open(location, {});
  if (!persisted) {
    state.SkipWithError(persisted.error().message.c_str());
    return;
  }
  kivo::doc::Document& document = persisted->document();
  std::vector<remote::doc::ConnectionProfile> stored;
  for (int i = 0; i < 10000; ++i) {
    auto p = remote::test::fixture_profiles()[static_cast<std::size_t>(i) % 12];
    p.id = kivo::Uuid::new_v4();
    p.name += " " + std::to_string(i);
    remote::doc::upsert_profile(document, p);
    stored.push_back(p);
  }
  (void)persisted->commit();
  auto host = std::make_shared<kivo::ui::ActionHost>();
  remote::actions::register_decoder(host->registry);
  host->committer = kivo::actions::executor::persisted_committer(*persisted);
  const auto& target = stored[4242];
  int n = 0;
  for (auto _ : state) {
    remote::actions::dispatch_action(
        document,
        remote::actions::UpsertConnection{target.id, target.name + " v" + std::to_string(++n), target.host,
                                          target.port, target.user, target.kind, target.auth, target.group},
        host.get());
  }
  // A save that failed would be timed as a fast one.
  const auto saved = remote::doc::read_profiles(document);
  const auto it = std::ranges::find_if(saved, [&](const auto& p) { return p.id == target.id; });
  if (it == saved.end() || it->name != target.name + " v" + std::to_string(n)) state.SkipWithError("the save did not land");
  state.SetLabel("dispatch_action(UpsertConnection), 10,000 stored, appended to the log");
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SaveProfileAmongTenThousand)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
