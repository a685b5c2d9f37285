// GtkMessageBox: the program's modal message box, a GtkMessageDialog run in a
// nested main loop (timers keep ticking). Nobody may be at the desktop of an
// unattended service, so an unanswered box closes itself after a while rather
// than stalling the job for good. Without a display the text goes to standard
// error. User-interface thread only.
#pragma once

#include <string>

#include "platform/message_box.h"

namespace veltrane {

class GtkMessageBox : public MessageBox {
 public:
  enum class Kind { Information, Error };
  static constexpr unsigned kDefaultCloseAfterSeconds = 120;

  explicit GtkMessageBox(Kind kind = Kind::Information,
                         unsigned closeAfterSeconds = kDefaultCloseAfterSeconds)
      : kind_(kind), closeAfterSeconds_(closeAfterSeconds) {}
  void ShowMessage(const std::string& text) override;

 private:
  Kind kind_;
  unsigned closeAfterSeconds_;
};

}  // namespace veltrane
