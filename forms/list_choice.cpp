#include "forms/list_choice.h"

#include "platform/text_lists.h"

namespace veltrane {

int FindOption(const std::vector<std::string>& options, std::string_view wanted) {
  if (wanted.empty()) return -1;
  const std::string lowerWanted = LowerAscii(wanted);
  for (std::size_t i = 0; i < options.size(); ++i)
    if (LowerAscii(options[i]).find(lowerWanted) != std::string::npos) return static_cast<int>(i);
  return -1;
}

int ChooseCountry(const std::vector<std::string>& options, std::string_view country) {
  for (const std::string_view wanted : {country, std::string_view("USA"), std::string_view("US"),
                                        std::string_view("United States")})
    if (const int index = FindOption(options, wanted); index >= 0) return index;
  return -1;
}

int ChooseCategory(const std::vector<std::string>& options, std::string_view category,
                   TraceSink& trace) {
  std::string list;
  for (const std::string& option : options) list += option + "\r\n";
  trace.TraceLine("Category found are : " + trace.Outside(list));
  if (const int index = FindOption(options, category); index >= 0) return index;
  trace.TraceLine("Cannot found selected category , continue to search business");
  if (const int index = FindOption(options, "business"); index >= 0) return index;
  trace.TraceLine("Cannot found business category , continue to search for internet");
  return FindOption(options, "internet");
}

}  // namespace veltrane
