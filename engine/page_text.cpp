#include "engine/page_text.h"

namespace veltrane {

std::string GetPageSource(const Page& page) {
  if (!page.source.empty()) return page.source;
  return page.bodyOuterHtml;
}

bool TextContains(std::string_view text, std::string_view search) {
  return !search.empty() && text.find(search) != std::string_view::npos;
}

}  // namespace veltrane
