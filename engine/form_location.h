// Form location: which form of a page a step fills. A step names its form by
// position; when the form there lacks a control the step fills, the first
// form that has them all is used instead. Works on the top-level document's
// forms of a Page, only reads it, and traces its decision.
#pragma once

#include <string>
#include <vector>

#include "browser/page.h"
#include "platform/trace.h"

namespace veltrane {

// The control names of one form, in element order.
using FormSignature = std::vector<std::string>;

// The names of the form's inputs (every type), text areas and selects, in
// element order; unnamed ones give "", button tags and the like nothing.
FormSignature FormControlNames(const PageForm& form);

// One signature per form of the page, in document order; a form without
// control names gets the single name "0".
std::vector<FormSignature> ListFormSignatures(const Page& page);

// True when every field name, trimmed of blanks and control characters, equals
// some control name (untrimmed) with A-Z case ignored. True for no field names.
bool FormHasFields(const std::vector<std::string>& fieldNames, const FormSignature& controlNames);

// The position to fill: unchanged when negative, beyond the last form, when
// the form there has every field name of the step (ScriptStep::fields), or
// when no form has them all; otherwise the first form in document order that
// has them all.
int LocateForm(const Page& page, int position, const std::vector<std::string>& fieldNames,
               TraceSink& trace);

// The form at that position of the page, or null when there is none.
const PageForm* GetForm(const Page& page, int position);

}  // namespace veltrane
