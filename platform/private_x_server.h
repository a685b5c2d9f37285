// PrivateXServer: an Xvfb of this process's own, for a program that finds no
// X display (the authoring tools; the service under systemd). Xvfb picks a
// free display number itself (-displayfd), so two never race for one. Only a
// client holding its random MIT-MAGIC-COOKIE-1 may connect: the cookie is in
// a 0600 file in a 0700 folder of ours (under $XDG_RUNTIME_DIR, else the temp
// folder), as xvfb-run keeps it, for pages the service fills hold passwords.
// While the object lives, DISPLAY and XAUTHORITY name the server for this
// process and its children; Xvfb gets no $NOTIFY_SOCKET, so it cannot speak
// for the service to systemd. The destructor ends the server (so does this
// process's death), removes the cookie and its folder and restores both
// variables; whoever holds a connection to the display closes it first.
// Main thread only, before other threads start: it changes the environment.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace veltrane {

class PrivateXServer {
 public:
  PrivateXServer();
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // The server runs and the environment names it; otherwise Error() says why not.
  bool Started() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Display() const { return display_; }  // ":N"
  const std::string& AuthorityFile() const { return authority_; }
  pid_t Pid() const { return server_; }

 private:
  bool WriteCookie();
  void StartServer();

  std::string folder_;
  std::string authority_;
  std::string display_;
  std::string error_;
  pid_t server_ = 0;
  std::optional<std::string> savedAuthority_;
};

}  // namespace veltrane
