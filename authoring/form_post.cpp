#include "authoring/form_post.h"

#include <cstddef>

namespace veltrane::authoring {
namespace {

// Input types whose value is one line: the browser strips CR and LF from it.
bool IsSingleLine(const std::string& type) {
  return type == "text" || type == "search" || type == "tel" || type == "url" || type == "email" ||
         type == "password" || type == "hidden" || type.empty();
}

std::string WithoutLineBreaks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

// CR, LF and CR LF all become CR LF.
std::string WithCrLf(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::vector<PostField> FormDataSet(const PageForm& form, int button) {
  std::vector<PostField> fields;
  for (std::size_t i = 0; i < form.elements.size(); ++i) {
    const FormElement& element = form.elements[i];
    if (element.name.empty()) continue;
    const bool clicked = static_cast<int>(i) == button;
    switch (element.kind) {
      case ElementKind::Input:
        if (element.type == "checkbox" || element.type == "radio") {
          if (element.checked) fields.push_back({element.name, element.value});
        } else if (element.type == "submit") {
          if (clicked) fields.push_back({element.name, element.value});
        } else if (element.type == "image") {
          if (clicked) {
            fields.push_back({element.name + ".x", "0"});
            fields.push_back({element.name + ".y", "0"});
          }
        } else if (element.type == "reset" || element.type == "button") {
        } else if (element.type == "file") {
          fields.push_back({element.name, ""});
        } else {
          fields.push_back({element.name, IsSingleLine(element.type)
                                              ? WithoutLineBreaks(element.value)
                                              : element.value});
        }
        break;
      case ElementKind::TextArea: fields.push_back({element.name, WithCrLf(element.value)}); break;
      case ElementKind::Select:
        if (element.selectedIndex >= 0 &&
            element.selectedIndex < static_cast<int>(element.options.size()))
          fields.push_back(
              {element.name,
               element.options[static_cast<std::size_t>(element.selectedIndex)].value});
        break;
      case ElementKind::Other:
        // A button tag sends its value when it was the one clicked.
        if (clicked && element.type == "submit") fields.push_back({element.name, element.value});
        break;
    }
  }
  return fields;
}

std::string ButtonCaption(const PageForm& form, int button) {
  if (button < 0 || button >= static_cast<int>(form.elements.size())) return {};
  const FormElement& element = form.elements[static_cast<std::size_t>(button)];
  return element.value.empty() ? element.text : element.value;
}

}  // namespace veltrane::authoring
