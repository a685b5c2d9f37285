#include "engine/page_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "platform/text_lists.h"

namespace veltrane {
namespace {

struct IconvCloser {
  void operator()(void* descriptor) const { iconv_close(static_cast<iconv_t>(descriptor)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8Name(std::string_view charset) {
  return EqualsIgnoringAsciiCase(charset, "UTF-8") || EqualsIgnoringAsciiCase(charset, "UTF8");
}

// The iconv name for a character set as the browser reports it. Browsers read
// pages labelled ISO-8859-1 or US-ASCII as windows-1252 (its 0x80-0x9F are
// printable there), so the source is decoded the way the page was shown.
std::string IconvName(std::string_view charset) {
  for (std::string_view latin : {"ISO-8859-1", "ISO_8859-1", "latin1", "US-ASCII", "ASCII"})
    if (EqualsIgnoringAsciiCase(charset, latin)) return "WINDOWS-1252";
  return std::string(charset);
}

// The bytes decoded to UTF-8, leniently: a byte that does not start a valid
// character of the set (or a character cut off at the end) becomes U+FFFD and
// decoding goes on after it, so every turn of the loop consumes input or
// empties a full output buffer. Nothing when iconv does not know the set.
std::optional<std::string> DecodeToUtf8(std::string_view bytes, std::string_view charset) {
  const iconv_t descriptor = iconv_open("UTF-8", IconvName(charset).c_str());
  if (descriptor == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const IconvHandle handle(descriptor);

  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string decoded;
  decoded.reserve(bytes.size() + bytes.size() / 2);
  char buffer[4096];
  // iconv takes a non-const input pointer but never writes through it.
  char* input = const_cast<char*>(bytes.data());
  std::size_t inputLeft = bytes.size();
  while (inputLeft > 0) {
    char* output = buffer;
    std::size_t outputLeft = sizeof buffer;
    const std::size_t result = iconv(descriptor, &input, &inputLeft, &output, &outputLeft);
    const int error = errno;
    decoded.append(buffer, static_cast<std::size_t>(output - buffer));
    if (result != static_cast<std::size_t>(-1)) continue;  // all input converted
    if (error == E2BIG && output != buffer) continue;      // the full buffer was emptied
    // EILSEQ, or EINVAL for a character cut off at the end: skip one byte.
    decoded += kReplacement;
    ++input;
    --inputLeft;
  }
  // Lets a stateful set (ISO-2022-JP) write what it still holds.
  char* output = buffer;
  std::size_t outputLeft = sizeof buffer;
  iconv(descriptor, nullptr, nullptr, &output, &outputLeft);
  decoded.append(buffer, static_cast<std::size_t>(output - buffer));
  return decoded;
}

// GetPageSource without the copy.
std::string_view PageText(const Page& page) {
  return page.source.empty() ? std::string_view(page.bodyOuterHtml) : std::string_view(page.source);
}

}  // namespace

std::string GetPageSource(const Page& page) { return std::string(PageText(page)); }

bool TextContains(std::string_view text, std::string_view search) {
  return !search.empty() && text.find(search) != std::string_view::npos;
}

bool PageContains(const Page& page, std::string_view search) {
  if (TextContains(PageText(page), search)) return true;
  if (IsAscii(search)) return false;
  // The body's outer HTML comes from the page model as UTF-8 already; only
  // source bytes can be in another character set.
  if (page.source.empty() || page.characterSet.empty() || IsUtf8Name(page.characterSet))
    return false;
  const std::optional<std::string> decoded = DecodeToUtf8(page.source, page.characterSet);
  return decoded && TextContains(*decoded, search);
}

}  // namespace veltrane
