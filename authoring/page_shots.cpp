#include "authoring/page_shots.h"

#include <cstdio>
#include <utility>

#include "browser/png_snapshot.h"
#include "platform/private_files.h"

namespace veltrane::authoring {

PageShots::PageShots(WebKitWebView* view, std::string directory, std::chrono::milliseconds deadline)
    : view_(view), directory_(std::move(directory)), deadline_(deadline) {}

PageShots::~PageShots() = default;

std::string PageShots::Capture() {
  std::error_code error;
  MakePrivateDirectories(directory_, error);
  char name[32];
  std::snprintf(name, sizeof name, "page-%02d.png", ++count_);
  const std::string path = directory_ + "/" + name;
  if (IsSymbolicLink(path)) return "Page picture refused : " + SymbolicLinkRefusal(path);
  ++*pending_;
  SavePageAsPng(view_, path, deadline_, [pending = pending_, saved = saved_, path](bool written) {
    if (written) saved->push_back(path);
    --*pending;
  });
  return "Page picture : " + path;
}

}  // namespace veltrane::authoring
