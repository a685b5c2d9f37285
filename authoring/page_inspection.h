// InspectPage: loads an address in the service's WebKit control and keeps
// every top-level page it completes, as the service's browser window gets
// them: the service's navigation guards refuse what they refuse, pop-ups and
// printing are refused, script dialogs are answered by the control (and noted
// here), and nothing is ever written on a page or sent. The load is over once
// a page has come and the view has neither loaded nor completed a page for
// `settle`, or when `deadline` has passed. Runs the GLib main loop until then;
// GTK must be initialised (ToolDisplay). User-interface thread only.
#pragma once

#include <chrono>
#include <string>

#include "authoring/inspection_report.h"

namespace veltrane::authoring {

struct InspectOptions {
  std::chrono::milliseconds settle{2000};
  std::chrono::milliseconds deadline{180000};  // the service's page deadline
};

PageInspection InspectPage(const std::string& address, const InspectOptions& options = {});

}  // namespace veltrane::authoring
