#include "browser/page_snapshot.h"

#include <json-glib/json-glib.h>

#include <string>

#include "platform/glib_handles.h"

namespace veltrane {
namespace {

std::string Text(JsonNode* node) {
  if (!node || !JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_STRING)
    return {};
  const char* text = json_node_get_string(node);
  return text ? std::string(text) : std::string();
}

int Int(JsonNode* node, int fallback) {
  if (!node || !JSON_NODE_HOLDS_VALUE(node)) return fallback;
  const GType type = json_node_get_value_type(node);
  if (type != G_TYPE_INT64 && type != G_TYPE_DOUBLE) return fallback;
  return static_cast<int>(json_node_get_int(node));
}

JsonArray* ArrayOf(JsonNode* node) {
  return node && JSON_NODE_HOLDS_ARRAY(node) ? json_node_get_array(node) : nullptr;
}

JsonNode* Item(JsonArray* array, guint index) {
  return array && index < json_array_get_length(array) ? json_array_get_element(array, index)
                                                       : nullptr;
}

guint Length(JsonArray* array) { return array ? json_array_get_length(array) : 0; }

// [kind, name, type, value, checked, selectedIndex, [value, text, ...], formAction, text]
FormElement ReadElement(JsonArray* item) {
  FormElement element;
  switch (Int(Item(item, 0), 3)) {
    case 0: element.kind = ElementKind::Input; break;
    case 1: element.kind = ElementKind::TextArea; break;
    case 2: element.kind = ElementKind::Select; break;
    default: element.kind = ElementKind::Other; break;
  }
  element.name = Text(Item(item, 1));
  element.type = Text(Item(item, 2));
  element.value = Text(Item(item, 3));
  element.checked = Int(Item(item, 4), 0) != 0;
  element.selectedIndex = Int(Item(item, 5), -1);
  JsonArray* options = ArrayOf(Item(item, 6));
  element.options.reserve(Length(options) / 2);
  for (guint i = 0; i + 1 < Length(options); i += 2)
    element.options.push_back({Text(Item(options, i)), Text(Item(options, i + 1))});
  element.formAction = Text(Item(item, 7));
  element.text = Text(Item(item, 8));
  return element;
}

}  // namespace

bool ReadSnapshot(std::string_view json, Page& page) {
  page.bodyOuterHtml.clear();
  page.characterSet.clear();
  page.forms.clear();
  page.links.clear();
  GObjectPtr<JsonParser> parser(json_parser_new_immutable());
  if (!json_parser_load_from_data(parser.get(), json.data(), static_cast<gssize>(json.size()),
                                  nullptr))
    return false;
  JsonNode* root = json_parser_get_root(parser.get());
  if (!root || !JSON_NODE_HOLDS_OBJECT(root)) return false;
  JsonObject* snapshot = json_node_get_object(root);
  const auto member = [&](const char* name) {
    return json_object_get_member(snapshot, name);  // null when missing
  };
  page.bodyOuterHtml = Text(member("body"));
  page.characterSet = Text(member("characterSet"));
  JsonArray* forms = ArrayOf(member("forms"));
  page.forms.reserve(Length(forms));
  for (guint f = 0; f < Length(forms); ++f) {
    JsonArray* form = ArrayOf(Item(forms, f));
    PageForm& pageForm = page.forms.emplace_back();
    pageForm.action = Text(Item(form, 0));
    pageForm.method = Text(Item(form, 1));
    JsonArray* elements = ArrayOf(Item(form, 2));
    pageForm.elements.reserve(Length(elements));
    for (guint e = 0; e < Length(elements); ++e) {
      if (JsonArray* item = ArrayOf(Item(elements, e)))
        pageForm.elements.push_back(ReadElement(item));
    }
  }
  JsonArray* links = ArrayOf(member("links"));
  page.links.reserve(Length(links));
  for (guint l = 0; l < Length(links); ++l) {
    JsonNode* link = Item(links, l);
    if (link && JSON_NODE_HOLDS_VALUE(link) && json_node_get_value_type(link) == G_TYPE_STRING)
      page.links.push_back(Text(link));
  }
  JsonNode* pending = member("customPending");
  return pending && JSON_NODE_HOLDS_VALUE(pending) && json_node_get_int(pending) != 0;
}

}  // namespace veltrane
