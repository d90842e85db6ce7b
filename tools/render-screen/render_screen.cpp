// render-screen: draws Remote offscreen in a review state and writes a PNG, with no
// display. For visual review of every screen and for documentation.
//
//   render-screen [--state NAME] [--sample] [--width W] [--height H] [--scale S] OUT.png

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/entry.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: render-screen [--state NAME] [--sample] [--width W] [--height H] [--scale S] OUT.png\n"
               "states:");
  for (auto name : remote::app::kReviewStates) std::fprintf(stderr, " %.*s", static_cast<int>(name.size()), name.data());
  std::fprintf(stderr, "\n");
  return 2;
}

bool parse_int(std::string_view text, int& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size() && out > 0 && out <= 16384;
}

}  // namespace

int main(int argc, char** argv) {
  std::string state;
  std::string out;
  int width = 1280;
  int height = 800;
  double scale = 1.0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--state" && has_value) {
      state = argv[++i];
    } else if (arg == "--sample") {
      ::setenv("KIVO_REMOTE_SAMPLE", "1", 1);
    } else if (arg == "--width" && has_value) {
      if (!parse_int(argv[++i], width)) return usage();
    } else if (arg == "--height" && has_value) {
      if (!parse_int(argv[++i], height)) return usage();
    } else if (arg == "--scale" && has_value) {
      scale = std::atof(argv[++i]);
      if (!(scale >= 0.5 && scale <= 4)) return usage();
    } else if (!arg.starts_with("--") && out.empty()) {
      out = arg;
    } else {
      return usage();
    }
  }
  if (out.empty()) return usage();

  kivo::ui::launch::LaunchContext context{.app_id = remote::app::kAppId, .review_state = std::nullopt};
  if (!state.empty()) {
    // An unknown name would silently draw the default screen instead.
    if (std::ranges::find(remote::app::kReviewStates, std::string_view(state)) == std::ranges::end(remote::app::kReviewStates)) {
      std::fprintf(stderr, "render-screen: unknown state \"%s\"\n", state.c_str());
      return usage();
    }
    context.review_state = state;
  }
  auto app = remote::app::create_review_application(context);
  app->set_reduced_motion(true);
  kivo::doc::Document document;
  kivo::ui::offscreen::OffscreenWindow window(*app, width, height, scale);
  window.set_document(&document);
  window.paint();
  window.paint();
  if (auto written = window.write_png(out); !written) {
    std::fprintf(stderr, "render-screen: cannot write %s: %s\n", out.c_str(), written.error().c_str());
    return 1;
  }
  return 0;
}
