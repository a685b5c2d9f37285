// What a browser sends for a form of the page model as it stands: its
// controls' names and values in element order, as the form's data set is
// built when the form is sent by a click on one of its buttons or without a
// button. Plain data: it shows what a step would post without posting it.
// The snapshot knows no disabled state and no file names: disabled controls
// are listed like the others and file inputs send an empty value.
#pragma once

#include <string>
#include <vector>

#include "browser/page.h"

namespace veltrane::authoring {

struct PostField {
  std::string name;
  std::string value;
  bool operator==(const PostField&) const = default;
};

// Named controls only. A checkbox or radio button counts when checked; a
// drop-down list gives its selected option's value (nothing when none is
// selected); a submit input or button tag counts only as the clicked one
// (`button`, -1 for none), an image input as "name.x" and "name.y" at 0;
// reset and plain buttons, field sets, objects and outputs never count. A
// single-line input loses its line breaks; a text area's line breaks are
// sent as CR LF.
std::vector<PostField> FormDataSet(const PageForm& form, int button);

// The caption of the element a form is sent with: a submit input's or button
// tag's value, or else a button tag's text; "" for -1 or an element that is
// not in the form.
std::string ButtonCaption(const PageForm& form, int button);

}  // namespace veltrane::authoring
