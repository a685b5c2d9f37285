// GtkMessageBox: the program's modal message box, a GtkMessageDialog run in a
// nested main loop (timers keep ticking). Without a display the text goes to
// standard error. User-interface thread only.
#pragma once

#include <string>

#include "platform/message_box.h"

namespace veltrane {

class GtkMessageBox : public MessageBox {
 public:
  enum class Kind { Information, Error };
  explicit GtkMessageBox(Kind kind = Kind::Information) : kind_(kind) {}
  void ShowMessage(const std::string& text) override;

 private:
  Kind kind_;
};

}  // namespace veltrane
