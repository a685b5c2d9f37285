// Runs an event handler so that an error escaping it is shown in an error
// message box and the program goes on. A failure that is not an error object
// is shown with an empty message.
#pragma once

#include <exception>
#include <string>

#include "platform/message_box.h"

namespace veltrane {

template <typename Handler>
void RunGuarded(MessageBox& errors, Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    errors.ShowMessage(error.what());
  } catch (...) {
    errors.ShowMessage(std::string());
  }
}

}  // namespace veltrane
