#include "browser/page_scripts.h"

#include <glib.h>

#include <cstdio>
#include <memory>

#include "browser/page_watch_script.h"

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
// Read through the prototype: a control named "action", "method" or
// "elements" shadows the property.
const formAction = Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, "action").get;
const formMethod = Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, "method").get;
const formElements = Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, "elements").get;
const attribute = Element.prototype.getAttribute;
// A custom element's value lives in the page's own script world, out of this
// one's reach: the page-world helper (kCustomValueScript) reads it and, when
// asked, sets it, through a detached element that only the two of them hold.
// Without the helper (it is put in a page only once one needs it) no value
// comes back, and the snapshot says so (customPending).
let customPending = 0;
const customValue = (e, value) => {
  const box = Document.prototype.createElement.call(document, "i");
  if (value !== undefined) Element.prototype.setAttribute.call(box, "set", value);
  EventTarget.prototype.dispatchEvent.call(e, new FocusEvent("veltrane:value", {relatedTarget: box}));
  const answer = attribute.call(box, "value");
  if (answer === null) customPending = 1;
  return text(answer);
};
const formIndex = new Map();
const kept = [];
const forms = [];
const controls = [];
const links = [];
for (const e of nodes) {
  if (e instanceof HTMLFormElement) {
    formIndex.set(e, forms.length);
    kept.push({form: e, elements: [], images: 0});
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
  kept[i].elements.push(e);
  if (e instanceof HTMLInputElement && e.type === "image") ++kept[i].images;
}
// Form-associated custom elements match no selector: the form's own list has
// them (and lacks image inputs). Only a form whose list is longer than what
// the query found has any; they join its controls in document order.
const following = (a, b) =>
  Node.prototype.compareDocumentPosition.call(a, b) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1;
for (const k of kept) {
  const listed = formElements.call(k.form);
  if (listed.length === k.elements.length - k.images) continue;
  const found = new Set(k.elements);
  for (const e of Array.from(listed)) {
    if (!found.has(e)) k.elements.push(e);
  }
  k.elements.sort(following);
}
const describe = (e) => {
  const tag = e.tagName.toUpperCase();
  if (tag.includes("-")) {
    return [0, text(attribute.call(e, "name")), tag.toLowerCase(), customValue(e), 0, -1, [], "", ""];
  }
  const kind = tag === "INPUT" ? 0 : tag === "TEXTAREA" ? 1 : tag === "SELECT" ? 2 : 3;
  const options = [];
  if (kind === 2) {
    for (const o of Array.from(e.options)) options.push(text(o.value), text(o.text));
  }
  // Without the attribute, formAction reads as the document's address: only a set one counts.
  const ownAction = (e instanceof HTMLInputElement || e instanceof HTMLButtonElement) &&
      Element.prototype.hasAttribute.call(e, "formaction") ? text(e.formAction) : "";
  const label = e instanceof HTMLButtonElement ? text(e.textContent).replace(/\s+/g, " ").trim() : "";
  return [kind, text(e.name), text(e.type).toLowerCase(), "value" in e ? text(e.value) : "",
          e.checked ? 1 : 0, kind === 2 ? e.selectedIndex : -1, options, ownAction, label];
};
for (let i = 0; i < kept.length; ++i) {
  for (const e of kept[i].elements) forms[i][2].push(describe(e));
}
// Kept on this world's wrapper of the document, so they go with the document.
// Kept on the window, they would pile up: this world's window outlives the page.
// A symbol, which no named element of the page can shadow.
document[Symbol.for("veltrane.page")] = {generation, forms: kept, customValue};
return JSON.stringify({location: text(document.location.href),
                       body: withBody && document.body ? text(document.body.outerHTML) : "",
                       characterSet: text(document.characterSet), forms, links, customPending});
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
// Controls are filled as a person fills them, so that the page's scripts,
// which keep their own state of the form, see every value: through the
// prototype's setter (a page may wrap an element's own value property to
// track what its scripts set), with input and change events, between focus
// and blur.
const own = (proto, property) => Object.getOwnPropertyDescriptor(proto, property);
const inputValue = own(HTMLInputElement.prototype, "value");
const textAreaValue = own(HTMLTextAreaElement.prototype, "value");
const checked = own(HTMLInputElement.prototype, "checked");
const selectedIndex = own(HTMLSelectElement.prototype, "selectedIndex").set;
const valueProperty = (e) =>
  e instanceof HTMLInputElement ? inputValue : e instanceof HTMLTextAreaElement ? textAreaValue : null;
const dispatch = EventTarget.prototype.dispatchEvent;
const announce = (e) => {
  dispatch.call(e, new InputEvent("input", {bubbles: true, composed: true}));
  dispatch.call(e, new Event("change", {bubbles: true}));
};
// The focus is announced rather than moved: moving it makes WebKit lay out
// the whole page first, and on a large page that takes longer than all the
// rest of the step. Handlers of focus and blur run all the same.
const focusEvents = (e, type, bubbling) => {
  dispatch.call(e, new FocusEvent(type));
  dispatch.call(e, new FocusEvent(bubbling, {bubbles: true, composed: true}));
};
const isOff = (e) => Element.prototype.matches.call(e, ":disabled");
const setValue = (form, e, value) => {
  const property = valueProperty(e);
  const custom = !property && e.tagName.includes("-");
  if (!property && !custom) {
    e.value = value;
    return;
  }
  // A hidden input is never in focus.
  const typed = !(e instanceof HTMLInputElement && e.type === "hidden");
  if (typed) focusEvents(e, "focus", "focusin");
  if (property) property.set.call(e, value); else page.customValue(e, value);
  announce(e);
  if (typed) focusEvents(e, "blur", "focusout");
  if (property && value !== "") keepFilled(form, e, value);
};
// As a click leaves it; a box whose click the page refuses, or that is
// disabled, is checked all the same, as it always was.
const check = (e) => {
  if (checked.get.call(e)) return;
  HTMLElement.prototype.click.call(e);
  if (checked.get.call(e)) return;
  checked.set.call(e, true);
  announce(e);
};
// A submit handler may empty a filled control before the data is gathered (a
// rich-text editor writing its empty content back): gathered, the data gets
// the step's value again, and so does the control. A value the page changed
// to another non-empty one (a mask) stays as the page made it. Listened for
// on the form as long as the document lives: a page may gather its data
// after an awaited request, long after the replay.
const formDataOf = own(FormDataEvent.prototype, "formData").get;
const restoreWiped = (event, filled) => {
  const data = formDataOf.call(event);
  let entries = null;
  for (const [e, value] of filled) {
    const property = valueProperty(e);
    if (property.get.call(e) !== "") continue;
    property.set.call(e, value);
    entries ??= Array.from(FormData.prototype.entries.call(data));
    const entry = entries.find(([key, v]) => key === e.name && v === "");
    if (entry) entry[1] = value;
  }
  if (!entries) return;
  for (const key of new Set(entries.map(([key]) => key))) FormData.prototype.delete.call(data, key);
  for (const [key, value] of entries) FormData.prototype.append.call(data, key, value);
};
const filledKey = Symbol.for("veltrane.filled");
const keepFilled = (form, e, value) => {
  const byForm = document[filledKey] ??= new WeakMap();
  let filled = byForm.get(form);
  if (!filled) {
    filled = new Map();
    byForm.set(form, filled);
    EventTarget.prototype.addEventListener.call(form, "formdata", (event) => restoreWiped(event, filled));
  }
  filled.set(e, value);
};
// A button the page's scripts enable once the form is filled: its disabled
// state is watched for a while, and the click comes once it is enabled. One
// that stays disabled is not clicked and is reported (PageShownScript).
const kEnableWait = 2000;
const whenEnabled = (e, then) => {
  let waiting = true;
  const end = () => {
    if (!waiting) return;
    waiting = false;
    observer.disconnect();
    clearTimeout(timer);
    then();
  };
  const observer = new MutationObserver(() => {
    if (!isOff(e)) end();
  });
  observer.observe(document, {attributes: true, subtree: true, attributeFilter: ["disabled"]});
  const timer = setTimeout(end, kEnableWait);
};
const list = JSON.parse(actions);
const loginKey = Symbol.for("veltrane.login");
let clicked = null;
let done = 0;
// What a form's own handlers change once it is sent counts as the submission's doing.
const startWatch = () => {
  const start = document[Symbol.for("veltrane.startWatch")];
  if (start) start(true);
};
const run = (from, waited) => {
  window.addEventListener("formdata", keepSubmissionHere, true);
  try {
    for (let n = from; n < list.length; ++n) {
      const a = list[n];
      try {
        const f = page.forms[a.form];
        const e = a.kind === "submit" ? null : f.elements[a.element];
        // Marked before it is written: whatever the write does, no picture shows the login.
        if (a.login) (document[loginKey] ??= new Set()).add(e);
        switch (a.kind) {
          case "value": setValue(f.form, e, a.value); break;
          case "checked": check(e); break;
          case "index":
            selectedIndex.call(e, a.index);
            announce(e);
            break;
          case "click":
            if (isOff(e)) {
              if (waited) {
                const report = document[Symbol.for("veltrane.report")];
                if (report) report("disabled");
              } else {
                whenEnabled(e, () => run(n, true));
              }
              return;
            }
            toSelf(f.form, "target");
            startWatch();
            clicked = isSubmitControl(e) ? e : null;
            if (clicked) toSelf(clicked, "formtarget");
            HTMLElement.prototype.click.call(e);
            clicked = null;
            break;
          case "submit": {
            toSelf(f.form, "target");
            startWatch();
            // As pressing Enter does: the page's validation and submit handlers run.
            const proto = HTMLFormElement.prototype;
            (proto.requestSubmit || proto.submit).call(f.form);
            break;
          }
        }
        ++done;
      } catch (error) {
      }
    }
  } finally {
    window.removeEventListener("formdata", keepSubmissionHere, true);
  }
};
run(0, false);
return done;
)JS";

const char kBlankLoginScript[] = R"JS(
// A frame's elements belong to its own window: its own prototypes write them.
const blank = (doc) => {
  const win = doc.defaultView || window;
  const setter = (type) => Object.getOwnPropertyDescriptor(type.prototype, "value").set;
  const inputValue = setter(win.HTMLInputElement);
  const textAreaValue = setter(win.HTMLTextAreaElement);
  const clear = (e) => {
    try {
      if (e instanceof win.HTMLInputElement) inputValue.call(e, "");
      else if (e instanceof win.HTMLTextAreaElement) textAreaValue.call(e, "");
      else if (e instanceof win.HTMLSelectElement) e.selectedIndex = -1;
      else e.value = "";
    } catch (error) {
    }
  };
  for (const e of doc[Symbol.for("veltrane.login")] || []) clear(e);
  for (const e of win.Document.prototype.querySelectorAll.call(doc, "input, iframe, frame")) {
    if (e instanceof win.HTMLInputElement) {
      if (e.type === "password") clear(e);
      continue;
    }
    // A frame of another origin is out of reach.
    try {
      if (e.contentDocument) blank(e.contentDocument);
    } catch (error) {
    }
  }
};
blank(document);
return 1;
)JS";

// Runs in the page's own world: sets or reads a custom element's value for
// the scripts above (see customValue in kSnapshotScript). The event never
// goes further, so the page's own listeners do not see it.
const char kCustomValueScript[] = R"JS((() => {
const stop = Event.prototype.stopImmediatePropagation;
const target = Object.getOwnPropertyDescriptor(Event.prototype, "target").get;
const box = Object.getOwnPropertyDescriptor(FocusEvent.prototype, "relatedTarget").get;
const has = Element.prototype.hasAttribute;
const get = Element.prototype.getAttribute;
const set = Element.prototype.setAttribute;
window.addEventListener("veltrane:value", (event) => {
  stop.call(event);
  const answer = box.call(event);
  if (!answer) return;
  try {
    const e = target.call(event);
    if (has.call(answer, "set")) e.value = get.call(answer, "set");
    const value = e.value;
    set.call(answer, "value", value === undefined || value === null ? "" : String(value));
  } catch (error) {
  }
}, true);
})();
)JS";

namespace {

constexpr char kPageShownListener[] = R"JS(
document[Symbol.for("veltrane.report")] = (what) => window.prompt(token + "!" + what);
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
  source += kWatchStarter;
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
    if (action.login) json += ",\"login\":1";
    json += ",\"value\":";
    AppendJsonString(json, action.value);
    json += '}';
  }
  return json + "]";
}

}  // namespace veltrane
