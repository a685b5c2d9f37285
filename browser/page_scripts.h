// The scripts the WebKit control runs in its own isolated script world,
// where page scripts and the page's content policy neither see nor block them.
// The snapshot script reads the page into one JSON text and keeps the element
// references it reported on its world's wrapper of the document, so that they
// go with the page; the replay script writes through exactly those. A small
// helper in the page's own world reaches what only that world sees: the
// value of a custom element.
#pragma once

#include <string>
#include <vector>

#include "browser/page.h"

namespace veltrane {

// The script world the control's scripts run in.
inline constexpr char kScriptWorld[] = "veltrane";

// Function body; arguments `generation` (text) and `withBody` ("1" or "").
// Returns one JSON text (one string crosses to us and is read far quicker than
// an object tree) of the form
// {location, body, characterSet, forms: [[action, method, [[kind, name, type,
// value, checked (0 or 1), selectedIndex, [value, text, value, text, ...],
// formAction, text]]]], links: [href]}; body is "" unless `withBody`. A
// form's action is absolute, its method "get", "post" or "dialog". Lone
// surrogates arrive as U+FFFD. Form-associated custom elements are listed as
// inputs whose type is their tag name; their name is their name attribute.
extern const char kSnapshotScript[];

// Function body; arguments `generation` (text) and `actions` (JSON text from
// ActionsAsJson). Each action runs in its own try/catch; returns how many ran
// at once, or -1 when the page is not the snapshot of that generation.
// Controls are filled as typing fills them (focus, the prototype's value
// setter, input and change, blur); a check box or radio button is clicked; a
// list's choice is announced with input and change. A control it filled that
// a submit handler empties gets its value again when the form's data is
// gathered. A click on a disabled control waits up to 2 s for it to be
// enabled; one that stays disabled is not clicked, and the document's
// reporter (PageShownScript) is told "disabled". A submit without a control
// is requestSubmit. A form it clicks or submits is sent into the page itself,
// whatever its target.
extern const char kReplayScript[];

// Function body, no arguments; returns 1. Run before any picture of the
// page is taken: empties every control a replay filled from the site's login
// (actions marked login) and every password control, in the document and in
// the frames within reach. Nothing is restored afterwards: a page is pictured
// once the job has sent, held or given up what it filled in.
extern const char kBlankLoginScript[];

// A script for the page's own world, run once in a document whose snapshot
// found custom controls (customPending): lets the scripts above read and set
// the value of custom elements, which only that world sees.
extern const char kCustomValueScript[];

// Source of the user script that reads a page as soon as its load handlers
// have run, before WebKit lays the loaded page out and reports it finished (on
// a large page that layout takes longer than everything else). At each
// top-level pageshow it asks through window.prompt with `token` + "?"; an
// answer names the generation to read for, and the script then prompts
// `token` + the snapshot's JSON text (kSnapshotScript, without the body) and
// replays the answer, the actions as ActionsAsJson gives them (kReplayScript).
// An empty or absent answer leaves the page alone. It also prompts `token` +
// "!disabled" when a replay's submit control stayed disabled
// (kSubmitDisabledPrompt). Pages' own scripts cannot read the token, so
// cannot speak for this script.
std::string PageShownScript(const std::string& token);
inline constexpr char kSubmitDisabledPrompt[] = "!disabled";

// The actions as a JSON array. Texts that are not valid UTF-8 are repaired
// (invalid bytes become U+FFFD) rather than dropped.
std::string ActionsAsJson(const std::vector<PageAction>& actions);

}  // namespace veltrane
