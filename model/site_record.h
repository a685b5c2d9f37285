// A site's run in a job as plain data: how it ended, and what it showed while
// it ran. The job builds one when the site ends; the journal, the report and
// the stores keep and read them.
#pragma once

#include <string>

namespace veltrane {

// What a site showed while it ran, so that a person can judge it without
// running it again.
struct SiteEvidence {
  int lastStatus = 0;       // HTTP status of the last page the site got; 0 when none or unknown
  std::string successText;  // the success text of the step the site ended on, found or not
  int pages = 0;            // top-level pages completed while the site ran
  std::string screenshot;   // the failed page's picture, a file name in the shots directory
  std::string notes;        // "form changed: missing <names>", one per form, "; " between
  // The engine's message when the site's last page failed to load (no server
  // answered it); "" when a server answered the last page.
  std::string networkError;
};

struct SiteRecord {
  int position = 0;  // the site's place in the job's site list, from 0
  std::string site;
  bool completed = false;
  std::string reason;  // why it failed; "" when completed
  double started = 0.0;
  double ended = 0.0;
  std::string lastUrl;
  SiteEvidence evidence;
};

}  // namespace veltrane
