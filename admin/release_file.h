// The press release file a person writes by hand, read into and written from
// the PressRelease the service loads. The file is "key: value" header lines
// (keys ignore letter case; "#" starts a comment), then [summary], [body],
// [about] and [contact] sections holding multi-line texts; the header ends at
// a blank line or the first section. ParseReleaseFile throws a data error
// naming the source and line, and leaves the derived texts empty;
// FormatReleaseFile writes what it parses, and shows the stored lines that
// the file cannot hold (unused contact lines, odd site categories) as comments.
#pragma once

#include <string>
#include <string_view>

#include "model/job_state.h"

namespace veltrane::admin {

PressRelease ParseReleaseFile(std::string_view text, const std::string& source);
std::string FormatReleaseFile(const PressRelease& release);

}  // namespace veltrane::admin
