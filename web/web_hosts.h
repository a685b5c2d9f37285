// Which Host header a request may carry. A page elsewhere can point a name of
// its own at this machine (DNS rebinding); a browser then sends that name as
// Host, and the page could read the answers. So only this server's own names
// are answered: "localhost", a loopback address, the address it listens on
// (any address when it listens on all of them: 0.0.0.0, ::), and the names
// the operator lists (web_names). The port is not looked at: a rebound name
// comes to the same one. Plain data, no network.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane::web {

// `hostHeader` as sent ("name", "name:port", "[v6]:port"); `listenHost` the
// numeric address listened on ("" for none known); `names` from web_names.
// Names are compared with letter case and a final "." ignored.
bool IsOwnHost(std::string_view hostHeader, std::string_view listenHost,
               const std::vector<std::string>& names);

}  // namespace veltrane::web
