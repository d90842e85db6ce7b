#include "kivo/ui/text_render.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <cmath>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "kivo/base/log.h"

namespace kivo::ui::text_render {
namespace {

// Exactly these files, whatever else the machine has installed.
constexpr const char* kFontFiles[] = {
    "/usr/share/fonts/opentype/inter/Inter-Regular.otf",
    "/usr/share/fonts/opentype/inter/Inter-Medium.otf",
    "/usr/share/fonts/opentype/inter/Inter-SemiBold.otf",
    "/usr/share/fonts/opentype/inter/Inter-Bold.otf",
    "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Regular.ttf",
    "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-SemiBold.ttf",
    "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
};

constexpr const char* kSansFamily = "Inter,DejaVu Sans";
constexpr const char* kMonoFamily = "JetBrains Mono,DejaVu Sans Mono";
constexpr std::size_t kCacheLimit = 2048;

PangoWeight pango_weight(int weight) {
  switch (weight) {
    case kNormal: return PANGO_WEIGHT_NORMAL;
    case kMedium: return PANGO_WEIGHT_MEDIUM;
    case kSemibold: return PANGO_WEIGHT_SEMIBOLD;
    default: return weight <= 0 ? PANGO_WEIGHT_NORMAL : PANGO_WEIGHT_BOLD;
  }
}

struct CacheKey {
  std::string text;
  long size;  // 1/64 px after scaling
  int weight;
  Face face;
  long wrap;  // 1/64 px
  long max;   // 1/64 px
  bool operator==(const CacheKey&) const = default;
};

struct CacheKeyHash {
  std::size_t operator()(const CacheKey& k) const noexcept {
    std::size_t h = std::hash<std::string>{}(k.text);
    h ^= static_cast<std::size_t>(k.size) * 0x9e3779b97f4a7c15ULL;
    h ^= static_cast<std::size_t>(k.weight * 31 + static_cast<int>(k.face)) << 7;
    h ^= static_cast<std::size_t>(k.wrap) * 0xc2b2ae3d27d4eb4fULL;
    h ^= static_cast<std::size_t>(k.max) * 0x165667b19e3779f9ULL;
    return h;
  }
};

long fixed(double v) { return std::lround(v * 64.0); }

std::vector<std::string>& extra_font_files() {
  static std::vector<std::string> files;
  return files;
}

}  // namespace

void add_font_file(std::string path) { extra_font_files().push_back(std::move(path)); }

struct TextRenderer::Impl {
  PangoFontMap* font_map = nullptr;
  PangoContext* context = nullptr;
  // Least recently used layouts are dropped first; the list holds keys, newest first.
  std::list<CacheKey> order;
  struct Entry {
    PangoLayout* layout;
    std::list<CacheKey>::iterator position;
  };
  std::unordered_map<CacheKey, Entry, CacheKeyHash> cache;

  ~Impl() {
    for (auto& [key, entry] : cache) g_object_unref(entry.layout);
    if (context != nullptr) g_object_unref(context);
    if (font_map != nullptr) g_object_unref(font_map);
  }

  PangoLayout* layout(std::string_view text, const TextStyle& style, double scale) {
    const double px = style.px * scale;
    CacheKey key{std::string(text), fixed(px), style.weight, style.face, fixed(style.wrap_width),
                 fixed(style.max_width)};
    if (auto it = cache.find(key); it != cache.end()) {
      order.splice(order.begin(), order, it->second.position);
      return it->second.layout;
    }
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* desc =
        pango_font_description_from_string(style.face == Face::Mono ? kMonoFamily : kSansFamily);
    pango_font_description_set_absolute_size(desc, px * PANGO_SCALE);
    pango_font_description_set_weight(desc, pango_weight(style.weight));
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    pango_layout_set_text(layout, key.text.data(), static_cast<int>(key.text.size()));
    if (style.face == Face::Mono) {
      // A terminal shows the characters it was sent: "->" stays two cells, never one arrow.
      PangoAttrList* attributes = pango_attr_list_new();
      pango_attr_list_insert(attributes, pango_attr_font_features_new("liga 0, calt 0, dlig 0"));
      pango_layout_set_attributes(layout, attributes);
      pango_attr_list_unref(attributes);
    }
    if (style.wrap_width > 0) {
      pango_layout_set_width(layout, static_cast<int>(style.wrap_width * PANGO_SCALE));
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    } else if (style.max_width > 0) {
      pango_layout_set_width(layout, static_cast<int>(style.max_width * PANGO_SCALE));
      pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    }
    if (cache.size() >= kCacheLimit) {
      auto oldest = cache.find(order.back());
      g_object_unref(oldest->second.layout);
      cache.erase(oldest);
      order.pop_back();
    }
    order.push_front(key);
    cache.emplace(std::move(key), Entry{layout, order.begin()});
    return layout;
  }
};

TextRenderer& TextRenderer::shared() {
  static TextRenderer renderer;
  return renderer;
}

TextRenderer::TextRenderer() : impl_(std::make_unique<Impl>()) {
  FcConfig* config = FcConfigCreate();
  for (const char* file : kFontFiles) {
    if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(file))) {
      fatal(std::string("pinned font file is missing: ") + file + " (run scripts/install-deps)");
    }
  }
  for (const auto& file : extra_font_files()) {
    if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(file.c_str()))) {
      log_warn("kivo::ui", "font file could not be added: " + file);
    }
  }
  impl_->font_map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
  if (impl_->font_map == nullptr) fatal("pango has no FreeType font map");
  pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(impl_->font_map), config);
  FcConfigDestroy(config);
  impl_->context = pango_font_map_create_context(impl_->font_map);
  // Unhinted outlines and unhinted metrics: the same glyph positions at every scale and
  // on every machine, which golden images rely on.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(impl_->context, options);
  cairo_font_options_destroy(options);
  pango_cairo_context_set_resolution(impl_->context, 96.0);
  pango_context_set_round_glyph_positions(impl_->context, FALSE);
}

TextRenderer::~TextRenderer() = default;

void TextRenderer::set_text_scale(double scale) {
  if (!(scale > 0) || scale == scale_) return;
  scale_ = scale;
  ++generation_;
}

TextSize TextRenderer::layout_size(std::string_view text, const TextStyle& style) const {
  PangoLayout* layout = impl_->layout(text, style, scale_);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

TextSize TextRenderer::draw(Canvas& canvas, std::string_view text, Point at, const TextStyle& style,
                            Color colour) const {
  PangoLayout* layout = impl_->layout(text, style, scale_);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  cairo_t* cr = canvas.cairo();
  cairo_save(cr);
  cairo_set_source_rgba(cr, colour.r, colour.g, colour.b, colour.a);
  cairo_move_to(cr, at.x, at.y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

double TextRenderer::caret_x(std::string_view text, const TextStyle& style, std::size_t index) const {
  PangoLayout* layout = impl_->layout(text, style, scale_);
  if (index > text.size()) index = text.size();
  PangoRectangle pos;
  pango_layout_index_to_pos(layout, static_cast<int>(index), &pos);
  return static_cast<double>(pos.x) / PANGO_SCALE;
}

std::size_t TextRenderer::index_at(std::string_view text, const TextStyle& style, double x) const {
  PangoLayout* layout = impl_->layout(text, style, scale_);
  int index = 0;
  int trailing = 0;
  pango_layout_xy_to_index(layout, static_cast<int>(x * PANGO_SCALE), 0, &index, &trailing);
  std::size_t result = static_cast<std::size_t>(index);
  // `trailing` counts characters past the boundary: step over whole UTF-8 sequences.
  while (trailing-- > 0 && result < text.size()) {
    ++result;
    while (result < text.size() && (static_cast<unsigned char>(text[result]) & 0xc0) == 0x80) ++result;
  }
  return result;
}

}  // namespace kivo::ui::text_render
