#include "jobs/redacting_trace.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/text_lists.h"
#include "platform/trace_priority.h"

namespace veltrane {
namespace {

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::uint32_t CodePoint(const std::string& sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  switch (sequence.size()) {
    case 2: return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    case 3: return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    case 4:
      return (byte(0) & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
             (byte(3) & 0x3Fu);
    default: return byte(0);
  }
}

// Converts one character; none when the character set cannot hold it.
std::optional<std::string> Convert(iconv_t converter, const std::string& sequence) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  std::string in = sequence;
  char out[16];
  char* input = in.data();
  std::size_t inLeft = in.size();
  char* output = out;
  std::size_t outLeft = sizeof out;
  if (iconv(converter, &input, &inLeft, &output, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(converter, nullptr, nullptr, &output, &outLeft) == static_cast<std::size_t>(-1))
    return std::nullopt;
  return std::string(out, static_cast<std::size_t>(output - out));
}

// `text` (UTF-8) in `characterSet` as a browser sends it in a form: a
// character the set cannot hold becomes a numeric character reference.
// None when the set is unknown here.
std::optional<std::string> InCharacterSet(const std::string& text,
                                          const std::string& characterSet) {
  const iconv_t converter = iconv_open(characterSet.c_str(), "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length =
        std::min(SequenceLength(static_cast<unsigned char>(text[at])), text.size() - at);
    const std::string sequence = text.substr(at, length);
    at += length;
    if (const std::optional<std::string> converted = Convert(converter, sequence)) {
      out += *converted;
    } else {
      out += "&#" + std::to_string(CodePoint(sequence)) + ";";
    }
  }
  iconv_close(converter);
  return out;
}

// Text as a reader may see it, with where each of its bytes came from in
// the text as written: [begin, end) of the raw bytes it stands for.
struct View {
  std::string text;  // ASCII letters in lower case
  std::vector<std::size_t> begin, end;
};

View RawView(const std::string& raw) {
  View view;
  view.text = LowerAscii(raw);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    view.begin.push_back(i);
    view.end.push_back(i + 1);
  }
  return view;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // the view's letters are lower case already
}

// `from` percent-decoded as a browser or server reads it: "%" and two hex
// digits give that byte, a "%" without them stays as it is; with `plus`, a
// "+" is a blank, as in a form's data.
View Decoded(const View& from, bool plus) {
  View view;
  const std::string& text = from.text;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t last = i;
    char byte = text[i];
    if (byte == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      byte = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      last = i + 2;
    } else if (plus && byte == '+') {
      byte = ' ';
    }
    view.text += LowerAscii(std::string(1, byte));
    view.begin.push_back(from.begin[i]);
    view.end.push_back(from.end[last]);
    i = last;
  }
  return view;
}

// The readings a text is searched in: as written, percent-decoded, decoded
// as form data, and each of those decoded once more (an address inside an
// address parameter).
std::vector<View> Readings(const std::string& raw) {
  std::vector<View> views{RawView(raw)};
  views.push_back(Decoded(views[0], false));
  views.push_back(Decoded(views[0], true));
  views.push_back(Decoded(views[1], false));
  views.push_back(Decoded(views[2], true));
  return views;
}

// Words the service itself writes around what comes from outside, in its
// trace, reasons, reports and history. A password among them, starred in an
// outside text, would show by the words left standing beside the stars.
constexpr char kServiceWords[] = R"(
Cannot found business category , continue to search for internet Cannot found selected category
, continue to search business Cant find info for subscription Category found are : Check for
success string : Check for unique string : Current formpos is correct! Current PR : Current site
: Current step : Document complete . Current page is : Download refused: Error while navigate
Filling form # Form changed: form # Found link : Found random link : Found the correct formpos :
Goto link Invalid form NULL Invalid setting Last step Login form on another host Navigate to :
Navigation refused: Network error: New window refused: Oh .. this url already match with pattern
, advance to next step Outcome unknown (interrupted while submitting) Page updated in place :
Press release not found Print refused: Redirected to unknown page Request to another host refused
during login: Request guard not in place Search for link with pattern :
Search for random link with pattern : Site script contains a NUL byte Site script has no steps
Skip to next step Stale page dropped : Still cannot find the correct formpos Stopped before
sending the form Submission completed Submission failed (success string not found) Submit button
disabled Success String found !! Timeout Trial completed Unable to continue Unable to found link
with pattern Unable to found random link with pattern Unique string found !! Unique string not
found Nothing happened after submit form changed: missing Completed failed success text: (found)
(looked for) last page: HTTP status: pages loaded: notes: screenshot: submission_data :
extra_data : http https www localhost
)";

}  // namespace

void RedactingTrace::SetSecret(const std::string& secret, const std::string& siteScript) {
  secret_ = secret;
  siteScript_ = siteScript;
  characterSets_.clear();
  spellings_.clear();
  withhold_ = false;
  AddSpelling(secret);
}

void RedactingTrace::NoteCharacterSet(const std::string& characterSet) {
  const std::string name = UpperAscii(characterSet);
  if (secret_.empty() || name.empty() || name == "UTF-8" || !characterSets_.insert(name).second)
    return;
  if (const std::optional<std::string> bytes = InCharacterSet(secret_, name)) AddSpelling(*bytes);
}

void RedactingTrace::AddSpelling(const std::string& bytes) {
  if (bytes.empty()) return;
  const std::string spelling = LowerAscii(bytes);
  if (std::find(spellings_.begin(), spellings_.end(), spelling) != spellings_.end()) return;
  spellings_.push_back(spelling);
  // The words as one line: a password with a blank may span two of them.
  static const std::string serviceWords = [] {
    std::string words = kServiceWords;
    std::replace(words.begin(), words.end(), '\n', ' ');
    return words;
  }();
  if (!withhold_) withhold_ = !Found(siteScript_).empty() || !Found(serviceWords).empty();
}

std::vector<std::pair<std::size_t, std::size_t>> RedactingTrace::Found(
    const std::string& text) const {
  std::vector<std::pair<std::size_t, std::size_t>> found;
  for (const View& view : Readings(text)) {
    for (const std::string& spelling : spellings_) {
      for (std::size_t at = view.text.find(spelling); at != std::string::npos;
           at = view.text.find(spelling, at + 1))
        found.emplace_back(view.begin[at], view.end[at + spelling.size() - 1]);
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool RedactingTrace::TraceLine(const std::string& text) {
  if (site_.empty() || TracePriorityOf(text) > TracePriority::Warning) return out_.TraceLine(text);
  return out_.TraceLine(NamingSite(text, site_));
}

std::string RedactingTrace::Redact(std::string text) const {
  const std::vector<std::pair<std::size_t, std::size_t>> found = Found(text);
  if (found.empty()) return text;
  // Stars beside words a reader knows would spell the password out.
  if (withhold_) return kWithheld;
  std::string out;
  std::size_t copied = 0;
  for (std::size_t i = 0; i < found.size();) {
    const std::size_t begin = found[i].first;
    std::size_t end = found[i].second;
    // Overlapping and touching finds are hidden as one.
    for (++i; i < found.size() && found[i].first <= end; ++i) end = std::max(end, found[i].second);
    out.append(text, copied, begin - copied);
    out += "***";
    copied = end;
  }
  return out + text.substr(copied);
}

}  // namespace veltrane
