// Placeholder substitution: the 34 "$$name$$" placeholders of a
// form value replaced by the running job's values. Reads the JobState and the
// current C locale (short date, weekday and month names); changes nothing.
#pragma once

#include <string>
#include <string_view>

#include "model/job_state.h"

namespace veltrane {

// Applies the 34 rows in order; each row makes one pass over the whole current
// text, finds its placeholder with A-Z case ignored and continues behind each
// inserted value, so a later row expands values inserted by earlier ones.
// The login rows ("$$username$$", "$$password$$") are the exception: they
// replace only placeholders written in `text` itself, never one that lies
// (even in part) in a value inserted before, so a press-release value cannot
// pull the site's login into a field.
std::string SubstitutePlaceholders(const PressRelease& release, const SiteLogin& login,
                                   std::string_view text);

// True when `text` holds "$$username$$" or "$$password$$" (A-Z case ignored).
bool HoldsLoginPlaceholder(std::string_view text);

// True when `text` holds a placeholder or list keyword of the press release:
// a "$$" left once the login placeholders are taken out.
bool HoldsReleasePlaceholder(std::string_view text);

// Replaces every occurrence of `placeholder` (A-Z case ignored) with `value`,
// searching on behind each inserted value.
std::string ReplaceIgnoringCase(std::string_view text, std::string_view placeholder,
                                std::string_view value);

}  // namespace veltrane
