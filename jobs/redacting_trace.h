// RedactingTrace: the job's trace hook. Lines pass on as they are written;
// the text a line or a failure reason takes from outside the service
// (Outside) has the current site's password replaced by "***" wherever it
// appears, A-Z case ignored: in the text as written, percent-decoded (a "%"
// without two hex digits stays as it is), decoded as form data (a "+" as a
// blank), and each of those decoded once more; in UTF-8 and in the character
// set of every page the site has shown (where a form is sent in its page's
// encoding, a character the set lacks as a character reference). Where the
// password also occurs in the site's own script or in the service's own
// words, stars would leave it readable beside the words a reader knows: an
// outside text that holds it is withheld whole (kWithheld). The service's
// own words are never touched, whatever the password. While a site runs, a
// line at warning or above (TracePriorityOf) ends with " [site: <name>]", so
// that the journal's warnings tell the sites apart.
// User-interface thread only.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/trace.h"

namespace veltrane {

class RedactingTrace : public TraceSink {
 public:
  explicit RedactingTrace(TraceSink& out) : out_(out) {}

  // What an outside text that holds the password shows instead, when stars would not do.
  static constexpr char kWithheld[] = "(hidden: it holds the login)";

  // The password to hide from now on, and the script of the site it logs in
  // to; "" hides nothing. Forgets the character sets noted for the password before.
  void SetSecret(const std::string& secret, const std::string& siteScript = "");
  // A page in `characterSet` was shown: the password is hidden in that
  // encoding too. Unknown names and UTF-8 add nothing.
  void NoteCharacterSet(const std::string& characterSet);
  // The site that runs from now on; "" when none does.
  void SetSite(const std::string& site) { site_ = site; }

  std::string Redact(std::string text) const;
  std::string Outside(std::string text) const override { return Redact(std::move(text)); }
  bool TraceLine(const std::string& text) override;

 private:
  void AddSpelling(const std::string& bytes);
  // Where in `text` the password is, as ranges of its bytes, in order.
  std::vector<std::pair<std::size_t, std::size_t>> Found(const std::string& text) const;

  TraceSink& out_;
  std::string site_;
  std::string secret_;
  std::string siteScript_;
  std::set<std::string> characterSets_;  // noted since SetSecret, upper case
  std::vector<std::string> spellings_;   // the secret's bytes per character set, A-Z lower case
  bool withhold_ = false;                // the script or the service's words hold the secret
};

}  // namespace veltrane
