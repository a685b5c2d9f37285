// The script that watches a page's document for changes, in the control's own
// script world. Its first call starts a MutationObserver over the whole
// document, kept on this world's wrapper of the document (so it goes with
// the document); every call answers how many changes it has seen and how long
// ago the last one was.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace veltrane {

// A statement for the control's user script, run at the start of every
// document: it gives the document the function that starts its watch (once)
// and returns it, for kPageWatchScript and for a replay about to send a form,
// so that what the form's own handlers change is seen; asked by the replay,
// it counts changes from then on.
extern const char kWatchStarter[];

// Function body without arguments, for a document kWatchStarter ran in; once
// the tasks queued before it have run, returns "<changes>
// <milliseconds since the last change, or since the watch began>".
extern const char kPageWatchScript[];

struct DocumentQuiet {
  std::uint64_t changes = 0;
  std::int64_t quietMs = 0;
};

// The script's answer read; nothing for an answer of another form.
std::optional<DocumentQuiet> ReadDocumentQuiet(std::string_view answer);

}  // namespace veltrane
