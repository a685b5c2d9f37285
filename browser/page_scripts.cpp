#include "browser/page_scripts.h"

#include <glib.h>

#include <cstdio>
#include <memory>

namespace veltrane {

// Prototype methods are called explicitly: a page's named elements shadow
// document and form members (an input named "submit" hides form.submit).
const char kSnapshotScript[] = R"JS(
// One query with one selector for everything: each further selector queried
// on a page makes the web process keep memory of that page for good.
const nodes = Document.prototype.querySelectorAll.call(document,
  "form, input, button, select, textarea, fieldset, object, output, a[href]");
// Lone surrogates become U+FFFD here, so that the JSON text is valid UTF-8 on our side.
const text = (v) => {
  if (v === undefined || v === null) return "";
  const s = String(v);
  return s.toWellFormed ? s.toWellFormed() : s;
};
// Read through the prototype: a control named "action" or "method" shadows the property.
const formAction = Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, "action").get;
const formMethod = Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, "method").get;
const formIndex = new Map();
const kept = [];
const forms = [];
const controls = [];
const links = [];
for (const e of nodes) {
  if (e instanceof HTMLFormElement) {
    formIndex.set(e, forms.length);
    kept.push({form: e, elements: []});
    forms.push([text(formAction.call(e)), text(formMethod.call(e)), []]);
  } else if (e instanceof HTMLAnchorElement) {
    links.push(text(e.href));
  } else if (e.tagName.toUpperCase() !== "A") {
    controls.push(e);
  }
}
// A control's form may come after it (form="id"): forms are all known first.
for (const e of controls) {
  const i = formIndex.get(e.form);
  if (i === undefined) continue;
  const tag = e.tagName.toUpperCase();
  const kind = tag === "INPUT" ? 0 : tag === "TEXTAREA" ? 1 : tag === "SELECT" ? 2 : 3;
  const options = [];
  if (kind === 2) {
    for (const o of Array.from(e.options)) options.push(text(o.value), text(o.text));
  }
  // Without the attribute, formAction reads as the document's address: only a set one counts.
  const ownAction = (e instanceof HTMLInputElement || e instanceof HTMLButtonElement) &&
      Element.prototype.hasAttribute.call(e, "formaction") ? text(e.formAction) : "";
  kept[i].elements.push(e);
  forms[i][2].push([kind, text(e.name), text(e.type).toLowerCase(), "value" in e ? text(e.value) : "",
                    e.checked ? 1 : 0, kind === 2 ? e.selectedIndex : -1, options, ownAction]);
}
// Kept on this world's wrapper of the document, so they go with the document.
// Kept on the window, they would pile up: this world's window outlives the page.
// A symbol, which no named element of the page can shadow.
document[Symbol.for("veltrane.page")] = {generation, forms: kept};
return JSON.stringify({location: text(document.location.href),
                       body: withBody && document.body ? text(document.body.outerHTML) : "",
                       characterSet: text(document.characterSet), forms, links});
)JS";

const char kReplayScript[] = R"JS(
const page = document[Symbol.for("veltrane.page")];
if (!page || page.generation !== generation) return -1;
// A form we submit is sent in this page, not into a new window (refused, so
// nothing would arrive) or a frame (no top-level page would complete). The
// target is set before the click or submit, on the submit control too, whose
// formtarget wins over the form's; and once more when the submission's data
// is gathered (the formdata event): that comes after every submit handler of
// the page and before WebKit reads the target, so an onsubmit that sets a
// target of its own loses.
const toSelf = (e, attribute) => Element.prototype.setAttribute.call(e, attribute, "_self");
const keepSubmissionHere = (event) => {
  if (event.target instanceof HTMLFormElement) toSelf(event.target, "target");
  if (clicked) toSelf(clicked, "formtarget");
};
const isSubmitControl = (e) =>
  (e instanceof HTMLButtonElement || e instanceof HTMLInputElement) && ["submit", "image"].includes(e.type);
let clicked = null;
let done = 0;
window.addEventListener("formdata", keepSubmissionHere, true);
try {
  for (const a of JSON.parse(actions)) {
    try {
      const f = page.forms[a.form];
      const e = a.kind === "submit" ? null : f.elements[a.element];
      switch (a.kind) {
        case "value": e.value = a.value; break;
        case "checked": e.checked = true; break;
        case "index": e.selectedIndex = a.index; break;
        case "click":
          toSelf(f.form, "target");
          clicked = isSubmitControl(e) ? e : null;
          if (clicked) toSelf(clicked, "formtarget");
          HTMLElement.prototype.click.call(e);
          clicked = null;
          break;
        case "submit":
          toSelf(f.form, "target");
          HTMLFormElement.prototype.submit.call(f.form);
          break;
      }
      ++done;
    } catch (error) {
    }
  }
} finally {
  window.removeEventListener("formdata", keepSubmissionHere, true);
}
return done;
)JS";

namespace {

constexpr char kPageShownListener[] = R"JS(
window.addEventListener("pageshow", (event) => {
  if (event.persisted) return;
  const generation = window.prompt(token + "?");
  if (!generation) return;
  const actions = window.prompt(token + snapshot(generation, ""));
  if (actions) replay(generation, actions);
}, true);
)JS";

void AppendJsonString(std::string& out, const std::string& bytes) {
  std::unique_ptr<char, decltype(&g_free)> valid(
      g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())), &g_free);
  out += '"';
  for (const char* p = valid.get(); *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += *p;
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += *p;
    }
  }
  out += '"';
}

const char* KindName(PageAction::Kind kind) {
  switch (kind) {
    case PageAction::Kind::SetValue: return "value";
    case PageAction::Kind::SetChecked: return "checked";
    case PageAction::Kind::SetSelectedIndex: return "index";
    case PageAction::Kind::Click: return "click";
    case PageAction::Kind::Submit: return "submit";
  }
  return "";
}

}  // namespace

std::string PageShownScript(const std::string& token) {
  std::string source = "(() => {\nconst token = ";
  AppendJsonString(source, token);
  source += ";\nconst snapshot = (generation, withBody) => {";
  source += kSnapshotScript;
  source += "};\nconst replay = (generation, actions) => {";
  source += kReplayScript;
  source += "};";
  source += kPageShownListener;
  return source + "})();\n";
}

std::string ActionsAsJson(const std::vector<PageAction>& actions) {
  std::string json = "[";
  for (const PageAction& action : actions) {
    if (json.size() > 1) json += ',';
    json += "{\"kind\":\"";
    json += KindName(action.kind);
    json += "\",\"form\":" + std::to_string(action.form);
    json += ",\"element\":" + std::to_string(action.element);
    json += ",\"index\":" + std::to_string(action.index);
    json += ",\"value\":";
    AppendJsonString(json, action.value);
    json += '}';
  }
  return json + "]";
}

}  // namespace veltrane
