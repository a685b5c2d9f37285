// The browser window's handlers for the control's navigation events other than
// document-complete: media addresses and addresses other than http(s) and
// about:blank are refused, pop-ups are never opened, downloads never saved,
// navigation errors are only traced, and every navigation shows the loading
// indicator. Plain functions over plain values; user-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "browser/loading_indicator.h"
#include "platform/trace.h"

namespace veltrane {

// True when the address, lower-cased (ASCII letters only), contains one of
// ".swf", ".jpg", ".gif", ".png" or ".jpeg" anywhere, query included.
bool RefusedMediaAddress(std::string_view url);

// True unless the address is http: or https: (letter case ignored) or
// about:blank; every other scheme (file:, data:, javascript:, ftp:, ...) and
// an address without a scheme are refused.
bool RefusedScheme(std::string_view url);

// Shows Panel2; sets cancel for media addresses and refused schemes, tracing
// "Navigation refused: <url>", and otherwise leaves cancel as it came.
void BrowserBeforeNavigate2(LoadingIndicator& panel2, TraceSink& trace, const std::string& url,
                            bool& cancel);

// Always cancels: no window is ever opened. Traces "New window refused: <url>".
void BrowserNewWindow2(TraceSink& trace, const std::string& url, bool& cancel);

// Traces "Print refused: <url>"; nothing is ever printed.
void BrowserPrintRefused(TraceSink& trace, const std::string& url);

// Traces "Download refused: <url>"; nothing is ever saved.
void BrowserDownloadRefused(TraceSink& trace, const std::string& url);

// Traces "Stale page dropped : <url>" (at debug priority): a page of a load
// older than the navigation asked for, which no step is judged on.
void BrowserPageDropped(TraceSink& trace, const std::string& url);

// Traces "Error while navigate <url> code:<statusCode>", then the engine's
// message of a network failure on a line of its own ("Network error:
// <message>"; none when `message` is empty), and leaves the error to the
// browser's own handling (cancel false).
void BrowserNavigateError(TraceSink& trace, const std::string& url, std::int32_t statusCode,
                          const std::string& message, bool& cancel);

// Progress is not shown anywhere.
void BrowserProgressChange(int progress, int progressMax);

}  // namespace veltrane
