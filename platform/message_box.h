// The modal message box through which database errors reach the person at the
// desktop. The program shows a GTK dialog (and returns when it is confirmed);
// tests record the texts.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

// Keeps every text in order; for tests.
class RecordingMessageBox : public MessageBox {
 public:
  void ShowMessage(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

}  // namespace veltrane
