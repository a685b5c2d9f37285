// ScopedLocale: sets the C library's locale for one test and puts the old one
// back when it goes.
#pragma once

#include <clocale>
#include <string>

namespace veltrane::testing {

class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) {
    previous_ = std::setlocale(LC_ALL, nullptr);
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

}  // namespace veltrane::testing
