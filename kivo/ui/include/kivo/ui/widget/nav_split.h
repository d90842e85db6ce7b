#pragma once
// The navigation flap: a side rail that docks in wide windows and slides over the
// content in narrow ones.

#include <algorithm>
#include <optional>

namespace kivo::ui::widget::nav_split {

enum class LayoutClass { Narrow, Wide };

struct FlapState {
  std::optional<bool> open_override;  // set by the user: open (true) or closed (false)
  std::optional<LayoutClass> last_layout_class;
  bool default_open = true;
  double progress = 1.0;  // 0 hidden … 1 fully open

  // Where the flap is heading: the user's choice when there is one, else closed when
  // narrow and the default otherwise.
  bool target_open(bool narrow) const {
    if (open_override) return *open_override;
    return narrow ? false : default_open;
  }
  double target_progress(bool narrow) const { return target_open(narrow) ? 1.0 : 0.0; }

  // How much of the rail's width the content gives up (docked layout).
  double reveal() const { return std::clamp(progress, 0.0, 1.0); }
  // How far the rail has slid in from the left edge.
  double slide() const { return std::clamp(progress, 0.0, 1.0); }
};

}  // namespace kivo::ui::widget::nav_split
