// Syslog priorities of trace lines, for the journal. TracePriorityOf sorts a
// trace text by what it says: a fault of the service or its data is an error,
// a site that failed (or the line that tells why) a warning, anything else
// progress, and what only explains the service's own workings debug. It reads the text only, so
// callers need not change; a text it does not know is progress. WritesToJournal tells whether a
// descriptor is the stream systemd connected to the journal (JOURNAL_STREAM names it). Pure
// functions; safe from any thread.
#pragma once

#include <string>

namespace veltrane {

enum class TracePriority { Error = 3, Warning = 4, Info = 6, Debug = 7 };

TracePriority TracePriorityOf(const std::string& text);

// `text` with " [site: <site>]" after it: how a line at warning or above that
// a site caused names that site.
std::string NamingSite(const std::string& text, const std::string& site);

// "<3>", "<4>" or "<6>": the prefix journald reads when SyslogLevelPrefix= is on.
std::string JournalPrefix(TracePriority priority);

// True when `journalStream` ("device:inode", as systemd sets JOURNAL_STREAM)
// names the file open on `fd`. Null, empty or malformed means no.
bool WritesToJournal(int fd, const char* journalStream);

}  // namespace veltrane
