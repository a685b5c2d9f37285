// Reads the value the snapshot script returned into a Page. Missing or
// malformed parts leave the page's fields empty; nothing is reported.
#pragma once

#include <jsc/jsc.h>

#include "browser/page.h"

namespace veltrane {

// Fills bodyOuterHtml, characterSet, forms (with their action and method) and links of
// `page` (location, source and status code are the control's). A null or non-object value
// leaves them empty.
void ReadSnapshot(JSCValue* snapshot, Page& page);

}  // namespace veltrane
