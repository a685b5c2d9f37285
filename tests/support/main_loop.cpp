#include "tests/support/main_loop.h"

#include <glib.h>

namespace veltrane::testing {

bool RunMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  bool expired = false;
  const guint timeout = g_timeout_add(
      static_cast<guint>(bound.count()),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired);
  while (!done() && !expired) g_main_context_iteration(nullptr, TRUE);
  if (!expired) g_source_remove(timeout);
  return done();
}

}  // namespace veltrane::testing
