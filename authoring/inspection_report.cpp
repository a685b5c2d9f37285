#include "authoring/inspection_report.h"

#include <json-glib/json-glib.h>

#include <cstddef>
#include <memory>
#include <sstream>

#include "engine/form_location.h"
#include "engine/link_search.h"
#include "forms/form_filling.h"
#include "forms/form_submission.h"
#include "platform/visible_text.h"

namespace veltrane::authoring {
namespace {

const char* KindName(ElementKind kind) {
  switch (kind) {
    case ElementKind::Input: return "input";
    case ElementKind::TextArea: return "textarea";
    case ElementKind::Select: return "select";
    case ElementKind::Other: return "other";
  }
  return "other";
}

// A value between double quotes, one line: quotes, backslashes and line breaks escaped.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

// What a step can do with the element as a button: its caption, the text a
// button tag shows (a step may name it by either), and whether it is the default.
std::string ButtonNote(const PageForm& form, std::size_t index) {
  const FormElement& element = form.elements[index];
  if (!IsSubmitControl(element)) return {};
  std::string note = "button " + Quoted(element.value);
  if (!element.text.empty()) note += " text " + Quoted(element.text);
  if (DefaultButton(form) == static_cast<int>(index)) note += ", clicked by default";
  return note;
}

const Page& Inspected(const PageInspection& inspection) {
  static const Page kNoPage;
  return inspection.pages.empty() ? kNoPage : inspection.pages.back();
}

// Makes every text valid UTF-8 for JSON; pages may hold any bytes.
std::string Utf8(const std::string& bytes) {
  std::unique_ptr<char, decltype(&g_free)> valid(
      g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())), &g_free);
  return valid.get();
}

void AddString(JsonBuilder* builder, const char* member, const std::string& value) {
  json_builder_set_member_name(builder, member);
  json_builder_add_string_value(builder, Utf8(value).c_str());
}

void AddInt(JsonBuilder* builder, const char* member, gint64 value) {
  json_builder_set_member_name(builder, member);
  json_builder_add_int_value(builder, value);
}

void AddBool(JsonBuilder* builder, const char* member, bool value) {
  json_builder_set_member_name(builder, member);
  json_builder_add_boolean_value(builder, value);
}

// An array of one object per item; `fill` adds the object's members.
template <typename Items, typename Fill>
void AddObjects(JsonBuilder* builder, const char* member, const Items& items, Fill fill) {
  json_builder_set_member_name(builder, member);
  json_builder_begin_array(builder);
  for (const auto& item : items) {
    json_builder_begin_object(builder);
    fill(item);
    json_builder_end_object(builder);
  }
  json_builder_end_array(builder);
}

void AddStrings(JsonBuilder* builder, const char* member, const std::vector<std::string>& values) {
  json_builder_set_member_name(builder, member);
  json_builder_begin_array(builder);
  for (const std::string& value : values)
    json_builder_add_string_value(builder, Utf8(value).c_str());
  json_builder_end_array(builder);
}

void AddElement(JsonBuilder* builder, const Page& page, const PageForm& form, std::size_t index) {
  const FormElement& element = form.elements[index];
  json_builder_begin_object(builder);
  AddBool(builder, "addedByScript", AddedByScript(page, element));
  AddInt(builder, "index", static_cast<gint64>(index));
  AddString(builder, "kind", KindName(element.kind));
  AddString(builder, "type", element.type);
  AddString(builder, "name", element.name);
  AddString(builder, "value", element.value);
  if (element.type == "checkbox" || element.type == "radio")
    AddBool(builder, "checked", element.checked);
  if (element.kind == ElementKind::Select) {
    AddInt(builder, "selectedIndex", element.selectedIndex);
    AddObjects(builder, "options", element.options, [&](const SelectOption& option) {
      AddString(builder, "value", option.value);
      AddString(builder, "text", option.text);
    });
  }
  if (IsSubmitControl(element)) {
    json_builder_set_member_name(builder, "button");
    json_builder_begin_object(builder);
    AddString(builder, "caption", element.value);
    AddString(builder, "text", element.text);
    AddBool(builder, "clickedByDefault", DefaultButton(form) == static_cast<int>(index));
    AddBool(builder, "clickable", true);
    json_builder_end_object(builder);
  }
  json_builder_end_object(builder);
}

}  // namespace

std::vector<std::string> MatchingLinks(const Page& page, const std::string& pattern) {
  const std::vector<std::string> words = PatternWords(pattern);
  std::vector<std::string> matches;
  for (const std::string& link : ListLinks(page))
    if (MatchesPattern(link, words)) matches.push_back(link);
  return matches;
}

int DefaultButton(const PageForm& form) { return SubmitButton(form, ""); }

bool AddedByScript(const Page& page, const FormElement& element) {
  if (page.source.empty() || element.name.empty()) return false;
  for (const std::string& quoted : {"\"" + element.name + "\"", "'" + element.name + "'",
                                    "=" + element.name + " ", "=" + element.name + ">"})
    if (page.source.find(quoted) != std::string::npos) return false;
  return true;
}

std::string InspectionText(const PageInspection& inspection,
                           const std::optional<std::string>& linkPattern) {
  const Page& page = Inspected(inspection);
  std::ostringstream out;
  out << "address: " << inspection.address << "\n";
  if (inspection.pages.empty()) {
    out << "no page completed\n";
  } else {
    out << "page: " << page.location << "\n";
    out << "status: " << page.statusCode << "\n";
  }
  if (!inspection.networkError.empty()) out << "network error: " << inspection.networkError << "\n";
  if (inspection.pages.size() > 1) {
    out << "pages loaded: " << inspection.pages.size() << "\n";
    for (std::size_t i = 0; i < inspection.pages.size(); ++i)
      out << "  " << i + 1 << ". " << inspection.pages[i].location << " ("
          << inspection.pages[i].statusCode << ")\n";
  }
  if (!inspection.settled) out << "still loading when the wait ended\n";
  for (const AnsweredDialog& dialog : inspection.dialogs)
    out << "dialog answered: " << dialog.kind << " " << Quoted(dialog.message) << "\n";
  for (const std::string& note : inspection.browserNotes) out << "browser: " << note << "\n";

  out << "forms: " << page.forms.size() << "\n";
  for (std::size_t f = 0; f < page.forms.size(); ++f) {
    const PageForm& form = page.forms[f];
    out << "\nform " << f << " (APP-FormPos=" << f
        << "): " << (form.method.empty() ? "get" : form.method) << " " << form.action << "\n";
    std::string names;
    for (const std::string& name : FormControlNames(form))
      names += (names.empty() ? "" : ", ") + (name.empty() ? std::string("(unnamed)") : name);
    out << "  controls: " << (names.empty() ? "none" : names) << "\n";
    if (DefaultButton(form) < 0)
      out << "  no submit control: a step submits the form without a button\n";
    for (std::size_t e = 0; e < form.elements.size(); ++e) {
      const FormElement& element = form.elements[e];
      out << "  [" << e << "] " << KindName(element.kind);
      if (!element.type.empty() && element.type != KindName(element.kind))
        out << " " << element.type;
      out << " name=" << Quoted(element.name) << " value=" << Quoted(element.value);
      if ((element.type == "checkbox" || element.type == "radio") && element.checked)
        out << " checked";
      const std::string button = ButtonNote(form, e);
      if (!button.empty()) out << "  " << button;
      if (AddedByScript(page, element)) out << "  (added by a script)";
      out << "\n";
      for (std::size_t o = 0; o < element.options.size(); ++o) {
        out << "      option " << o << ": value=" << Quoted(element.options[o].value)
            << " text=" << Quoted(element.options[o].text);
        if (static_cast<int>(o) == element.selectedIndex) out << " (selected)";
        out << "\n";
      }
    }
  }
  out << "\nlinks: " << page.links.size() << "\n";
  if (linkPattern) {
    const std::vector<std::string> matches = MatchingLinks(page, *linkPattern);
    out << "links matching " << Quoted(*linkPattern) << ": " << matches.size() << "\n";
    for (const std::string& link : matches) out << "  " << link << "\n";
  }
  // Every value came from the page: none may reach a terminal as a control.
  return VisibleText(out.str());
}

std::string InspectionJson(const PageInspection& inspection,
                           const std::optional<std::string>& linkPattern) {
  const Page& page = Inspected(inspection);
  g_autoptr(JsonBuilder) builder = json_builder_new();
  json_builder_begin_object(builder);
  AddString(builder, "address", inspection.address);
  AddString(builder, "location", page.location);
  AddInt(builder, "status", page.statusCode);
  AddString(builder, "networkError", inspection.networkError);
  AddBool(builder, "settled", inspection.settled);
  AddObjects(builder, "pages", inspection.pages, [&](const Page& loaded) {
    AddString(builder, "location", loaded.location);
    AddInt(builder, "status", loaded.statusCode);
  });
  AddObjects(builder, "dialogs", inspection.dialogs, [&](const AnsweredDialog& dialog) {
    AddString(builder, "kind", dialog.kind);
    AddString(builder, "message", dialog.message);
  });
  AddStrings(builder, "browser", inspection.browserNotes);

  json_builder_set_member_name(builder, "forms");
  json_builder_begin_array(builder);
  for (std::size_t f = 0; f < page.forms.size(); ++f) {
    const PageForm& form = page.forms[f];
    json_builder_begin_object(builder);
    AddInt(builder, "position", static_cast<gint64>(f));
    AddString(builder, "action", form.action);
    AddString(builder, "method", form.method);
    AddStrings(builder, "controlNames", FormControlNames(form));
    json_builder_set_member_name(builder, "elements");
    json_builder_begin_array(builder);
    for (std::size_t e = 0; e < form.elements.size(); ++e) AddElement(builder, page, form, e);
    json_builder_end_array(builder);
    json_builder_end_object(builder);
  }
  json_builder_end_array(builder);

  json_builder_set_member_name(builder, "links");
  json_builder_begin_object(builder);
  AddInt(builder, "count", static_cast<gint64>(page.links.size()));
  if (linkPattern) {
    AddString(builder, "pattern", *linkPattern);
    AddStrings(builder, "matches", MatchingLinks(page, *linkPattern));
  }
  json_builder_end_object(builder);
  json_builder_end_object(builder);

  g_autoptr(JsonNode) root = json_builder_get_root(builder);
  g_autoptr(JsonGenerator) generator = json_generator_new();
  json_generator_set_root(generator, root);
  json_generator_set_pretty(generator, TRUE);
  g_autofree gchar* text = json_generator_to_data(generator, nullptr);
  // The generator escapes C0 controls; C1 controls it leaves raw. Escaped, the JSON means the same.
  return VisibleText(text) + "\n";
}

}  // namespace veltrane::authoring
