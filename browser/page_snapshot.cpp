#include "browser/page_snapshot.h"

#include <glib.h>

#include <string>

namespace veltrane {
namespace {

JSCValue* Property(JSCValue* object, const char* name) {
  return jsc_value_object_get_property(object, name);
}

std::string TextProperty(JSCValue* object, const char* name) {
  g_autoptr(JSCValue) value = Property(object, name);
  if (!value || !jsc_value_is_string(value)) return {};
  g_autofree char* text = jsc_value_to_string(value);
  return text ? std::string(text) : std::string();
}

int IntProperty(JSCValue* object, const char* name, int fallback) {
  g_autoptr(JSCValue) value = Property(object, name);
  if (!value || !jsc_value_is_number(value)) return fallback;
  return jsc_value_to_int32(value);
}

bool BoolProperty(JSCValue* object, const char* name) {
  g_autoptr(JSCValue) value = Property(object, name);
  return value && jsc_value_to_boolean(value);
}

// Calls `each` with every item of the array property `name`; no array, no calls.
template <typename Each>
void ForEachItem(JSCValue* object, const char* name, Each each) {
  g_autoptr(JSCValue) array = Property(object, name);
  if (!array || !jsc_value_is_array(array)) return;
  const int length = IntProperty(array, "length", 0);
  for (int i = 0; i < length; ++i) {
    g_autoptr(JSCValue) item = jsc_value_object_get_property_at_index(array, static_cast<guint>(i));
    if (item) each(item);
  }
}

FormElement ReadElement(JSCValue* item) {
  FormElement element;
  switch (IntProperty(item, "kind", 3)) {
    case 0: element.kind = ElementKind::Input; break;
    case 1: element.kind = ElementKind::TextArea; break;
    case 2: element.kind = ElementKind::Select; break;
    default: element.kind = ElementKind::Other; break;
  }
  element.name = TextProperty(item, "name");
  element.type = TextProperty(item, "type");
  element.value = TextProperty(item, "value");
  element.checked = BoolProperty(item, "checked");
  element.selectedIndex = IntProperty(item, "selectedIndex", -1);
  ForEachItem(item, "options", [&](JSCValue* option) {
    element.options.push_back({TextProperty(option, "value"), TextProperty(option, "text")});
  });
  return element;
}

}  // namespace

void ReadSnapshot(JSCValue* snapshot, Page& page) {
  if (!snapshot || !jsc_value_is_object(snapshot)) return;
  page.bodyOuterHtml = TextProperty(snapshot, "body");
  page.characterSet = TextProperty(snapshot, "characterSet");
  ForEachItem(snapshot, "forms", [&](JSCValue* form) {
    PageForm& pageForm = page.forms.emplace_back();
    pageForm.action = TextProperty(form, "action");
    pageForm.method = TextProperty(form, "method");
    ForEachItem(form, "elements",
                [&](JSCValue* item) { pageForm.elements.push_back(ReadElement(item)); });
  });
  ForEachItem(snapshot, "links", [&](JSCValue* link) {
    if (!jsc_value_is_string(link)) return;
    g_autofree char* text = jsc_value_to_string(link);
    page.links.emplace_back(text ? text : "");
  });
}

}  // namespace veltrane
