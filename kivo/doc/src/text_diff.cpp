#include "kivo/doc/document.h"
#include "kivo/base/text.h"

namespace kivo::doc {

std::expected<void, Error> splice_text_diffed(Document& doc, const ObjId& text, std::string_view new_text) {
  auto current = doc.text(text);
  if (!current) return std::unexpected(current.error());
  auto target = kivo::text::decode_utf8(new_text);
  if (!target) return std::unexpected(Error{"inserted text is not valid UTF-8"});
  // The document only ever holds valid scalars, so its own text always decodes.
  const std::u32string old_chars = *kivo::text::decode_utf8(*current);
  const std::u32string& new_chars = *target;

  std::size_t prefix = 0;
  const std::size_t shorter = std::min(old_chars.size(), new_chars.size());
  while (prefix < shorter && old_chars[prefix] == new_chars[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < shorter - prefix &&
         old_chars[old_chars.size() - 1 - suffix] == new_chars[new_chars.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::size_t removed = old_chars.size() - prefix - suffix;
  const std::size_t added = new_chars.size() - prefix - suffix;
  if (removed == 0 && added == 0) return {};
  std::string insert;
  for (std::size_t i = prefix; i < prefix + added; ++i) kivo::text::append_utf8(new_chars[i], insert);
  return doc.splice_text(text, prefix, removed, insert);
}

}  // namespace kivo::doc
