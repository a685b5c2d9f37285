#include "browser/navigate_status_of.h"

#include <gio/gio.h>

#include "browser/browser_control.h"

namespace veltrane {

std::int32_t NavigateStatusOf(const GError* error) {
  if (!error) return navigate_status::kDownloadFailure;
  if (error->domain == G_RESOLVER_ERROR) return navigate_status::kNameNotResolved;
  if (error->domain == G_TLS_ERROR) return navigate_status::kInvalidCertificate;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_HOST_UNREACHABLE:
      case G_IO_ERROR_NETWORK_UNREACHABLE: return navigate_status::kCannotConnect;
      case G_IO_ERROR_TIMED_OUT: return navigate_status::kConnectionTimeout;
      default: break;
    }
  }
  return navigate_status::kDownloadFailure;
}

}  // namespace veltrane
