#include "engine/link_search.h"

#include <cstddef>
#include <utility>

namespace veltrane {
namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::vector<std::string> ListLinks(const Page& page) { return page.links; }

std::vector<std::string> PatternWords(std::string_view pattern) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = pattern.size();
  while (true) {
    while (i < n && IsSeparator(pattern[i])) ++i;
    if (i >= n) break;
    std::string word;
    if (pattern[i] == '"') {
      // A quoted word runs to the next lone quote (or to the end of the text).
      ++i;
      while (i < n) {
        if (pattern[i] == '"') {
          if (i + 1 < n && pattern[i + 1] == '"') {
            word += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        word += pattern[i++];
      }
    } else {
      while (i < n && !IsSeparator(pattern[i])) word += pattern[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

bool MatchesPattern(std::string_view address, const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word.empty() || address.find(word) == std::string_view::npos) return false;
  }
  return true;
}

std::string FindLink(const Page& page, std::string_view pattern) {
  const std::vector<std::string> words = PatternWords(pattern);
  for (const std::string& link : ListLinks(page)) {
    if (MatchesPattern(link, words)) return link;
  }
  return {};
}

std::string FindRandomLink(const Page& page, std::string_view pattern, PseudoRandom& random) {
  const std::vector<std::string> words = PatternWords(pattern);
  std::vector<std::string> matches;
  for (const std::string& link : ListLinks(page)) {
    if (MatchesPattern(link, words)) matches.push_back(link);
  }
  if (matches.empty()) return {};
  return matches[static_cast<std::size_t>(RandomIndex(static_cast<int>(matches.size()), random))];
}

int RandomIndex(int n, PseudoRandom& random) {
  if (n <= 0) return 0;
  return random.Next() % n;
}

}  // namespace veltrane
