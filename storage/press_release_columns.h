// The pressrelease row's columns and the PressRelease they hold, whatever
// database the row comes from: contact_data is name=value lines (looked up by
// name, letter case ignored, the first line of a name winning), keyword and
// extra_data are one entry per line, release_date is a whole day number or
// NULL. New list columns are written with CR LF between lines. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/job_state.h"
#include "storage/stored_row.h"

namespace veltrane {

// Reads the row into `release` in the order the service always has, deriving
// its texts on the way; a NULL release_date gives `today`. When a column
// fails, the fields read before it keep their new values and the rest their
// old ones.
void ReadPressReleaseRow(const StoredRow& row, std::int32_t today, PressRelease& release);

// The derived texts, from the values they come from.
std::string JoinKeywords(const PressRelease& release, const char* separator);
std::string FullTextOf(const PressRelease& release);
std::string NewsBodyHtmlOf(const std::string& newsBody);  // every LF becomes "<BR>"

// The list columns' texts for a release: the contact values given, in
// kContactFields order; the keywords; the site categories.
std::string ContactDataText(const PressRelease& release);
std::string KeywordText(const PressRelease& release);
std::string ExtraDataText(const PressRelease& release);

}  // namespace veltrane
