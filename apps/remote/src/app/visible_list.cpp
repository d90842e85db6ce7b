#include "app/visible_list.h"

#include <algorithm>
#include <string>

#include "kivo/base/text.h"

namespace remote::app {

std::vector<const doc::ConnectionProfile*> visible_list(const std::vector<doc::ConnectionProfile>& profiles,
                                                        std::string_view search) {
  const std::string query = kivo::text::to_lower(doc::trim_text(search));
  struct Entry {
    const doc::ConnectionProfile* profile;
    std::string key;
  };
  std::vector<Entry> kept;
  kept.reserve(profiles.size());
  for (const auto& profile : profiles) {
    bool matches = query.empty();
    for (std::string_view field :
         {std::string_view(profile.name), std::string_view(profile.host), std::string_view(profile.user),
          std::string_view(profile.group), doc::document_text(profile.kind)}) {
      if (matches) break;
      matches = kivo::text::to_lower(field).find(query) != std::string::npos;
    }
    if (matches) kept.push_back({&profile, kivo::text::to_lower(profile.name)});
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) {
    if (a.profile->favorite != b.profile->favorite) return a.profile->favorite;
    return a.key < b.key;
  });
  std::vector<const doc::ConnectionProfile*> out;
  out.reserve(kept.size());
  for (const auto& entry : kept) out.push_back(entry.profile);
  return out;
}

}  // namespace remote::app
