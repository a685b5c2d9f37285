#include "platform/trace_priority.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <string_view>

namespace veltrane {

namespace {

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// A database error as the job reports it: the statement, a line break, then
// "<code> : <message>".
bool IsDatabaseErrorText(std::string_view text) {
  for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
       at = text.find("\r\n", at + 2)) {
    std::size_t digits = at + 2;
    if (digits < text.size() && text[digits] == '-') ++digits;
    std::size_t end = digits;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end > digits && text.substr(end, 3) == " : ") return true;
  }
  return false;
}

// "HTTP <status> on <address>": the last step ended on an error page.
bool IsErrorPageText(std::string_view text) {
  if (!StartsWith(text, "HTTP ")) return false;
  std::size_t end = 5;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  return end > 5 && text.substr(end, 4) == " on ";
}

// Faults of the service or its data: nothing a site did.
constexpr std::string_view kErrorStarts[] = {
    "Schedule poll failed : ",
    "Next run of schedule ",
    "Cannot read job ",
    "Cannot record the job's start : ",
    "Cannot record that job ",
    "Schedule polling stopped : ",
    "Cannot record the end of site ",
    "Cannot record that site ",
    "The report could not be kept either; it is lost",
    "Report kept in ",
    "History prune failed : ",
};

// Lines that tell of a site failing, or of the page error it fails on.
// "Unique string not found" and "Unable to found link with pattern" are not
// among them, since a step may go on after them, nor "Cant find info for
// subscription", which a site without a login writes too. Every site that
// fails on a page, by a timeout too, ends with its screenshot line (or the
// line that says why none was written).
constexpr std::string_view kSiteFailureStarts[] = {
    "Success string not found",
    "Invalid form NULL",
    "Login form on another host (",
    "Request guard not in place",
    "Unable to found random link with pattern",
    "Unable to continue",
    "Error while navigate ",
    "Network error: ",
    "Screenshot saved : ",
    "Screenshot refused : ",
    "Submit button disabled",
    "Outcome unknown (interrupted while submitting)",
};

// A shared server's job at risk: a lease not renewed, a job lost to another instance.
constexpr std::string_view kLeaseWarningStarts[] = {
    "Leases of the running jobs not renewed : ",
};
constexpr std::string_view kLostJobEnds[] = {
    " was taken over by another instance; this instance stops it",
    " not written: another instance holds the job now and reports it",
};

bool IsLeaseWarning(std::string_view text) {
  for (std::string_view start : kLeaseWarningStarts)
    if (StartsWith(text, start)) return true;
  if (!StartsWith(text, "Job ") && !StartsWith(text, "Report of job ")) return false;
  for (std::string_view end : kLostJobEnds)
    if (text.size() >= end.size() && text.substr(text.size() - end.size()) == end) return true;
  return false;
}

}  // namespace

TracePriority TracePriorityOf(const std::string& text) {
  std::string_view view(text);
  // A line of one of several lanes says what it says after its "[lane <n>] ".
  if (StartsWith(view, "[lane ")) {
    const std::size_t close = view.find("] ");
    if (close != std::string_view::npos) view.remove_prefix(close + 2);
  }
  for (std::string_view start : kErrorStarts)
    if (StartsWith(view, start)) return TracePriority::Error;
  // "Schedule <id> is invalid: its next run would not move on ..."
  if (StartsWith(view, "Schedule ") && view.find(" is invalid: ") != std::string_view::npos)
    return TracePriority::Error;
  if (IsDatabaseErrorText(view)) return TracePriority::Error;
  // The line that closes a job with failed sites: error when none completed.
  if (StartsWith(view, "Job of schedule ")) {
    if (view.find(") ended with every site failed (") != std::string_view::npos)
      return TracePriority::Error;
    if (view.find(" sites failed : ") != std::string_view::npos) return TracePriority::Warning;
  }
  // "Kept statement <file> not written yet : <message>": the database still refuses it.
  if (StartsWith(view, "Kept statement ") &&
      (view.find(" not written yet : ") != std::string_view::npos ||
       view.find(" cannot be applied (") != std::string_view::npos))
    return TracePriority::Error;
  for (std::string_view start : kSiteFailureStarts)
    if (StartsWith(view, start)) return TracePriority::Warning;
  if (IsErrorPageText(view)) return TracePriority::Warning;
  if (IsLeaseWarning(view)) return TracePriority::Warning;
  // A page tried to send something of a login elsewhere; the site goes on.
  if (StartsWith(view, "Request to another host refused during login: "))
    return TracePriority::Warning;
  if (StartsWith(view, "Setting history_keep_days ") || StartsWith(view, "Setting parallel_"))
    return TracePriority::Warning;
  if (StartsWith(view, "Stale page dropped : ")) return TracePriority::Debug;
  return TracePriority::Info;
}

std::string NamingSite(const std::string& text, const std::string& site) {
  return text + " [site: " + site + "]";
}

std::string JournalPrefix(TracePriority priority) {
  return "<" + std::to_string(static_cast<int>(priority)) + ">";
}

bool WritesToJournal(int fd, const char* journalStream) {
  if (!journalStream || !*journalStream) return false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  char rest = 0;
  if (std::sscanf(journalStream, "%llu:%llu%c", &device, &inode, &rest) != 2) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  return static_cast<unsigned long long>(info.st_dev) == device &&
         static_cast<unsigned long long>(info.st_ino) == inode;
}

}  // namespace veltrane
