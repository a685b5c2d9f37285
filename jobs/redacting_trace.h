// RedactingTrace: the job's trace hook. Lines pass on as they are written;
// the text a line or a failure reason takes from outside the service
// (Outside) has the current site's password replaced by "***" wherever it
// appears: as written in UTF-8, and in the character set of every page the
// site has shown (where a form is sent in its page's encoding), each raw,
// percent-encoded (either letter case) and form-encoded (a blank as "+").
// The service's own words are never touched, whatever the password. While a
// site runs, a line at warning or above (TracePriorityOf) ends with
// " [site: <name>]", so that the journal's warnings tell the sites apart.
// User-interface thread only.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/trace.h"

namespace veltrane {

class RedactingTrace : public TraceSink {
 public:
  explicit RedactingTrace(TraceSink& out) : out_(out) {}

  // The password to hide from now on; "" hides nothing. Forgets the
  // character sets noted for the password before.
  void SetSecret(const std::string& secret);
  // A page in `characterSet` was shown: the password is hidden in that
  // encoding too. Unknown names and UTF-8 add nothing.
  void NoteCharacterSet(const std::string& characterSet);
  // The site that runs from now on; "" when none does.
  void SetSite(const std::string& site) { site_ = site; }

  std::string Redact(std::string text) const;
  std::string Outside(std::string text) const override { return Redact(std::move(text)); }
  bool TraceLine(const std::string& text) override;

 private:
  void AddSpellings(const std::string& bytes);

  TraceSink& out_;
  std::string site_;
  std::string secret_;
  std::set<std::string> characterSets_;  // noted since SetSecret, upper case
  std::vector<std::string> forms_;       // the secret's spellings, longest first
};

}  // namespace veltrane
