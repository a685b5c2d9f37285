// Names of press releases and sites. The service places them between single
// quotes in its SQL without escaping, lists sites one per line and keys
// per-site categories as site=value lines, so names that would break any of
// that are refused here, where a person can still fix them.
#pragma once

#include <string>
#include <string_view>

namespace veltrane::admin {

// Data error unless the name is usable: not empty, no control character, no
// blank at either end.
void CheckReleaseName(std::string_view name);
// As CheckReleaseName, and no "=" (site=value lines) or "," (site lists).
void CheckSiteName(std::string_view name);

// The site part of a screenshot file name: every byte outside [A-Za-z0-9._-]
// becomes "_".
std::string ShotSiteName(std::string_view site);

// Quotes a value for one-line messages: 'name'.
std::string Quoted(std::string_view text);

}  // namespace veltrane::admin
