// VisibleText: text that came from a web page, made safe to print on a
// terminal. A page may hold escape sequences (a clipboard write, a changed
// window title, hidden lines); printed raw, the terminal would carry them out.
// Every C0 control but tab and line feed, DEL and every C1 control is shown
// as a visible escape: a character as "\u001b" (carriage return as "\r"),
// a stray byte of text that is not UTF-8 as "\x9b". Other bytes, valid or
// not, pass unchanged, so JSON stays JSON. Pure; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace veltrane {

std::string VisibleText(std::string_view text);

}  // namespace veltrane
