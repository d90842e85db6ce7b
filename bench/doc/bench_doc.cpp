// The saved-profiles document at a realistic large size: opening 10,000 profiles from their
// change logs, and saving one profile (a few puts and a name splice, committed and appended).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "kivo/base/uuid.h"
#include "kivo/doc/persist.h"

namespace {

namespace fs = std::filesystem;
using namespace kivo::doc;

constexpr int kProfiles = 10000;

ObjId object_at(const Document& doc, const ObjId& obj, std::string_view key) {
  return std::get<ObjectRef>(*doc.get(obj, key).value()).id;
}

void write_profile(Document& doc, const ObjId& connections, const std::string& id, int n) {
  const ObjId profile = *doc.put_object(connections, id, ObjType::Map);
  const ObjId name = *doc.put_object(profile, "name", ObjType::Text);
  (void)splice_text_diffed(doc, name, "Server " + std::to_string(n));
  (void)doc.put(profile, "host", Value{"host" + std::to_string(n) + ".example.net"});
  (void)doc.put(profile, "port", Value{std::int64_t{22}});
  (void)doc.put(profile, "user", Value{std::string("admin")});
  (void)doc.put(profile, "kind", Value{std::string("SSH")});
  (void)doc.put(profile, "auth", Value{std::string("Public key")});
  (void)doc.put(profile, "last_used", Value{std::string("Never")});
  (void)doc.put(profile, "presence", Value{std::string("unknown")});
  (void)doc.put(profile, "group", Value{std::string("Lab")});
  (void)doc.put(profile, "favorite", Value{n % 7 == 0});
}

// A folder with 10,000 profiles, each saved by its own commit, made once per run.
struct Folder {
  fs::path root;
  std::vector<std::string> ids;
  std::uintmax_t log_bytes = 0;

  Folder() {
    std::string pattern = (fs::temp_directory_path() / "kivo-doc-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    auto pd = open(location("writer"));
    if (!pd) std::abort();
    Document& doc = pd->document();
    const ObjId connections = *doc.put_object(kRoot, "connections", ObjType::Map);
    if (!pd->commit()) std::abort();
    for (int n = 0; n < kProfiles; ++n) {
      ids.push_back(kivo::Uuid::new_v4().to_string());
      write_profile(doc, connections, ids.back(), n);
      if (!pd->commit()) std::abort();
    }
    log_bytes = fs::file_size(pd->log_path());
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  persist::Location location(const std::string& device) const { return {root / "shared", root / device}; }
};

const Folder& folder() {
  static const Folder f;
  return f;
}

void BM_OpenTenThousandProfiles(benchmark::State& state) {
  const Folder& f = folder();
  for (auto _ : state) {
    auto pd = open(f.location("reader"));
    if (!pd) state.SkipWithError(pd.error().message.c_str());
    benchmark::DoNotOptimize(pd);
    // Tearing the document down is not part of opening it.
    state.PauseTiming();
    pd = std::unexpected(Error{});
    state.ResumeTiming();
  }
  state.counters["log_bytes"] = static_cast<double>(f.log_bytes);
  state.counters["log_bytes_per_new_profile"] = static_cast<double>(f.log_bytes) / kProfiles;
}
BENCHMARK(BM_OpenTenThousandProfiles)->Unit(benchmark::kMillisecond);

// One save of an existing profile: a new host and port, a renamed name (diffed splice), then
// commit and append. Argument 1 flushes each commit to the disk (fdatasync).
void BM_SaveOneProfile(benchmark::State& state) {
  const Folder& f = folder();
  const bool sync = state.range(0) != 0;
  auto pd = open(f.location(sync ? "saver-synced" : "saver"), persist::Options{sync});
  if (!pd) {
    state.SkipWithError(pd.error().message.c_str());
    return;
  }
  Document& doc = pd->document();
  const ObjId connections = object_at(doc, kRoot, "connections");
  const auto size_before = fs::file_size(pd->log_path());
  std::int64_t n = 0;
  for (auto _ : state) {
    const ObjId profile = object_at(doc, connections, f.ids[static_cast<std::size_t>(n) % f.ids.size()]);
    (void)doc.put(profile, "host", Value{"moved" + std::to_string(n) + ".example.net"});
    (void)doc.put(profile, "port", Value{std::int64_t{2200} + n % 100});
    (void)splice_text_diffed(doc, object_at(doc, profile, "name"), "Server " + std::to_string(n) + " (new)");
    auto written = pd->commit();
    if (!written || !*written) state.SkipWithError("the save wrote nothing");
    ++n;
  }
  const auto added = fs::file_size(pd->log_path()) - size_before;
  state.counters["log_bytes_per_save"] = static_cast<double>(added) / static_cast<double>(std::max<std::int64_t>(n, 1));
}
BENCHMARK(BM_SaveOneProfile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
