// Folders and files the program writes itself (screenshots, trial pictures)
// are its user's alone, whatever the umask: a folder it creates is 0700, a
// file it writes 0600. Folders that exist already keep their mode. A file the
// programs write or re-mode is never reached through a symbolic link: a link
// put in its place would lead the write (run as root, perhaps) elsewhere. The
// folders above it may be links (a package may keep db/ elsewhere).
#pragma once

#include <string>
#include <system_error>

namespace veltrane {

// Creates `path` and its missing parents, each 0700. False, with `error` set,
// when one could not be made (or is not a folder).
bool MakePrivateDirectories(const std::string& path, std::error_code& error);

// Opens `path` for writing, emptied, mode 0600 (also when it existed with
// another); a symbolic link there is not followed. A descriptor the caller
// closes, or -1 with errno set.
int OpenPrivateFile(const std::string& path);

// True when `path` itself is a symbolic link (whatever it leads to, or none).
bool IsSymbolicLink(const std::string& path);
// "<path> is a symbolic link, which is not followed": the refusal every program gives.
std::string SymbolicLinkRefusal(const std::string& path);

}  // namespace veltrane
