#include "browser/page_watch_script.h"

#include <charconv>

namespace veltrane {

const char kWatchStarter[] = R"JS(
document[Symbol.for("veltrane.startWatch")] = (fromNow) => {
  const key = Symbol.for("veltrane.watch");
  let watch = document[key];
  if (watch) {
    if (fromNow) {
      watch.changes = 0;
      watch.last = performance.now();
    }
    return watch;
  }
  watch = {changes: 0, last: performance.now()};
  // The targets a replay sets on the form it sends are its own doing, not the page's.
  const ours = (r) => r.type === "attributes" &&
      (r.attributeName === "target" || r.attributeName === "formtarget");
  watch.observer = new MutationObserver((records) => {
    const changes = records.filter((r) => !ours(r)).length;
    if (changes === 0) return;
    watch.changes += changes;
    watch.last = performance.now();
  });
  watch.observer.observe(document, {subtree: true, childList: true, attributes: true,
                                    characterData: true});
  document[key] = watch;
  return watch;
};
)JS";

const char kPageWatchScript[] = R"JS(
// Answered after the tasks already queued, such as the navigation a form
// submission schedules: it asks for its navigation before this answer comes.
await new Promise((resolve) => setTimeout(resolve, 0));
const watch = document[Symbol.for("veltrane.startWatch")](false);
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
