#include "forms/form_filling.h"

#include <cstddef>
#include <optional>

#include "forms/list_choice.h"
#include "forms/placeholders.h"
#include "platform/text_lists.h"

namespace veltrane {
namespace {

// The index of the option matching a drop-down list's raw step value; -1 when none does.
int MatchingOption(const FormElement& select, const std::string& raw, const PressRelease& release,
                   const SiteRun& site, TraceSink& trace) {
  const std::vector<std::string> options = ListOptions(select);
  // The keywords are recognised on the value before placeholders are
  // replaced, since "$$category$$" is itself a placeholder.
  const std::string keyword = LowerAscii(raw);
  int index;
  if (keyword == "$$country") {
    index = ChooseCountry(options, release.Country);
  } else if (keyword == "$$category$$") {
    const std::string category = TrimBlanks(LookupValue(release.SiteCategories, site.CurrentSite));
    index = ChooseCategory(options, category, trace);
  } else {
    index = FindOption(options, SubstitutePlaceholders(release, site.login, raw));
  }
  return index;
}

// The index chosen for a drop-down list by its raw step value.
int ChooseSelectIndex(const FormElement& select, const std::string& raw,
                      const PressRelease& release, const SiteRun& site, TraceSink& trace) {
  const int index = MatchingOption(select, raw, release, site, trace);
  // Index 1 rather than none: most lists open with a "please choose" entry.
  return index >= 0 ? index : 1;
}

}  // namespace

ElementKind ClassifyElement(const FormElement& element) { return element.kind; }

std::string DecodeLineBreaks(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '|' && i + 1 < text.size() && text[i + 1] == '|') {
      decoded += "\r\n";
      ++i;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::vector<std::string> ListOptions(const FormElement& select) {
  std::vector<std::string> options;
  options.reserve(select.options.size());
  for (const SelectOption& option : select.options)
    options.push_back(option.value + " " + option.text);
  return options;
}

void FillForm(Page& page, int form, const PressRelease& release, const SiteRun& site,
              TraceSink& trace) {
  if (form < 0 || form >= static_cast<int>(page.forms.size())) return;
  // Writes never add or remove elements, so the count read once stays right.
  const int count = static_cast<int>(page.forms[static_cast<std::size_t>(form)].elements.size());
  for (int i = 0; i < count; ++i) {
    const FormElement& element =
        page.forms[static_cast<std::size_t>(form)].elements[static_cast<std::size_t>(i)];
    const ElementKind kind = ClassifyElement(element);
    if (kind == FieldOther) continue;
    const std::optional<std::string> value = FindStepValue(site.StepValues, element.name);
    if (!value) continue;
    const std::string raw = DecodeLineBreaks(*value);
    const bool login = HoldsLoginPlaceholder(raw);
    if (kind == FieldSelect) {
      page.SetSelectedIndex(form, i, ChooseSelectIndex(element, raw, release, site, trace), login);
      continue;
    }
    const std::string wanted = SubstitutePlaceholders(release, site.login, raw);
    if (kind == FieldInput && (element.type == "checkbox" || element.type == "radio")) {
      if (EqualsIgnoringAsciiCase(wanted, element.value)) page.SetChecked(form, i);
      continue;
    }
    page.SetValue(form, i, wanted, login);
  }
}

namespace {

// Whether one of the values FillForm takes for the form's controls passes `holds`.
template <typename Test>
bool FillUsesValue(const Page& page, int form, const std::vector<StepValue>& stepValues,
                   Test holds) {
  if (form < 0 || form >= static_cast<int>(page.forms.size())) return false;
  for (const FormElement& element : page.forms[static_cast<std::size_t>(form)].elements) {
    if (ClassifyElement(element) == FieldOther) continue;
    const std::optional<std::string> value = FindStepValue(stepValues, element.name);
    if (value && holds(*value)) return true;
  }
  return false;
}

}  // namespace

bool FillMissesAnOption(const Page& page, int form, const PressRelease& release,
                        const SiteRun& site) {
  if (form < 0 || form >= static_cast<int>(page.forms.size())) return false;
  DiscardingTrace quiet;
  for (const FormElement& element : page.forms[static_cast<std::size_t>(form)].elements) {
    if (ClassifyElement(element) != FieldSelect) continue;
    const std::optional<std::string> value = FindStepValue(site.StepValues, element.name);
    if (value && MatchingOption(element, DecodeLineBreaks(*value), release, site, quiet) < 0)
      return true;
  }
  return false;
}

bool FillWritesLogin(const Page& page, int form, const std::vector<StepValue>& stepValues) {
  return FillUsesValue(page, form, stepValues,
                       [](const std::string& value) { return HoldsLoginPlaceholder(value); });
}

bool FillWritesRelease(const Page& page, int form, const std::vector<StepValue>& stepValues) {
  return FillUsesValue(page, form, stepValues,
                       [](const std::string& value) { return HoldsReleasePlaceholder(value); });
}

std::vector<std::string> MissingControls(const PageForm& form,
                                         const std::vector<std::string>& fieldNames) {
  std::vector<std::string> missing;
  for (const std::string& field : fieldNames) {
    const std::string wanted = TrimBlanks(field);
    bool found = false;
    for (const FormElement& element : form.elements) {
      if (ClassifyElement(element) != FieldOther && EqualsIgnoringAsciiCase(wanted, element.name)) {
        found = true;
        break;
      }
    }
    if (!found) missing.push_back(wanted);
  }
  return missing;
}

}  // namespace veltrane
