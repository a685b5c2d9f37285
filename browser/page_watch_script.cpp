#include "browser/page_watch_script.h"

#include <charconv>

namespace veltrane {

const char kPageWatchScript[] = R"JS(
const key = Symbol.for("veltrane.watch");
let watch = document[key];
if (!watch) {
  watch = {changes: 0, last: performance.now()};
  watch.observer = new MutationObserver((records) => {
    watch.changes += records.length;
    watch.last = performance.now();
  });
  watch.observer.observe(document, {subtree: true, childList: true, attributes: true,
                                    characterData: true});
  document[key] = watch;
}
return String(watch.changes) + " " + String(Math.floor(performance.now() - watch.last));
)JS";

std::optional<DocumentQuiet> ReadDocumentQuiet(std::string_view answer) {
  DocumentQuiet quiet;
  const char* end = answer.data() + answer.size();
  auto [afterChanges, changesError] = std::from_chars(answer.data(), end, quiet.changes);
  if (changesError != std::errc() || afterChanges == end || *afterChanges != ' ')
    return std::nullopt;
  auto [afterQuiet, quietError] = std::from_chars(afterChanges + 1, end, quiet.quietMs);
  if (quietError != std::errc() || afterQuiet != end) return std::nullopt;
  return quiet;
}

}  // namespace veltrane
