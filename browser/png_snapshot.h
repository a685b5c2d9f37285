// SavePageAsPng: a PNG of the whole page a view shows, written to `path`
// (mode 0600) asynchronously. Before the picture is taken, the controls the
// job filled from the site's login and every password control are emptied
// for good (kBlankLoginScript); a page where that fails is not pictured.
// `done` runs exactly once, on the user-interface thread: with true once the
// file is written, with false when the picture could not be taken or
// written, or when `deadline` passed first (the snapshot is then cancelled,
// so a web process that does not answer holds nobody up).
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <string>

namespace veltrane {

void SavePageAsPng(WebKitWebView* view, std::string path, std::chrono::milliseconds deadline,
                   std::function<void(bool saved)> done);

}  // namespace veltrane
