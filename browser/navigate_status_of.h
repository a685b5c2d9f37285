// The NavigateError status code of a failed load's GError.
#pragma once

#include <glib.h>

#include <cstdint>

namespace veltrane {

std::int32_t NavigateStatusOf(const GError* error);

}  // namespace veltrane
