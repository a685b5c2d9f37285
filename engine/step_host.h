// StepHost: what the step engine needs of the browser window that runs the
// job: the page deadline, navigation, the loading panel, and the two ways a
// site ends. SiteSucceeded and SiteFailed start the next site (or end the
// job) before they return. User-interface thread only.
#pragma once

#include <string>

namespace veltrane {

class StepHost {
 public:
  virtual ~StepHost() = default;
  virtual void HideLoadingPanel() = 0;
  virtual void ArmDeadline() = 0;
  virtual void DisarmDeadline() = 0;
  virtual void Navigate(const std::string& url) = 0;
  virtual void SiteSucceeded() = 0;
  virtual void SiteFailed(const std::string& reason) = 0;
};

}  // namespace veltrane
