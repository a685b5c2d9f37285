// The built service on forms whose pages keep their own state in script:
// values a tracker takes only with input events, buttons the page enables,
// submit handlers that send by fetch, wipe a field or must run at all, a
// phone mask, a form-associated custom element. The server must receive what
// a person with a browser would have sent.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/fault_harness.h"

namespace veltrane::testing {
namespace {

std::string Page(const std::string& form, const std::string& script) {
  return "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>" + form + "<script>" +
         script + "</script></body></html>";
}

// Step 1 fills form 0 with `fields` (key=value lines) and sends it; step 2
// looks for kThanks.
std::string Script(const std::string& fields) {
  return "[STEP1]\nAPP-FormPos=0\n" + fields + "[STEP2]\nAPP-SuccessString=" + kThanks + "\n";
}

// A value tracker as frameworks keep one: the element's own value property
// is wrapped, and a value counts only when an input or change event finds it
// differs from the one last set through that property. A button-only form
// whose handler posts the state as JSON and then goes on by location.
const char kTrackerForm[] =
    "<form action='/tracker/native' method='post'><input name='t'><textarea name='body'>"
    "</textarea><select name='country'><option value=''>-</option><option value='DE'>Germany"
    "</option></select><input type='checkbox' name='agree' value='yes'><button>Send</button>"
    "</form>";
const char kTrackerScript[] = R"(
const form = document.forms[0];
const state = {};
for (const e of form.querySelectorAll("input:not([type=checkbox]), textarea, select")) {
  const own = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(e), "value");
  let last = own.get.call(e);
  Object.defineProperty(e, "value", {configurable: true, get() { return own.get.call(this); },
                                     set(v) { last = String(v); own.set.call(this, v); }});
  const take = () => {
    const now = own.get.call(e);
    if (now !== last) { last = now; state[e.name] = now; }
  };
  e.addEventListener("input", take);
  e.addEventListener("change", take);
}
form.agree.addEventListener("click", () => { state.agree = form.agree.checked; });
form.addEventListener("submit", async (event) => {
  event.preventDefault();
  await fetch("/tracker/state", {method: "POST", headers: {"Content-Type": "application/json"},
                                 body: JSON.stringify(state)});
  location.href = "/tracker/done";
});
)";

// The submit button is enabled a moment after something was typed.
const char kEnableForm[] =
    "<form action='/enable/post' method='post'><input name='t'>"
    "<input type='submit' value='Send' disabled></form>";
const char kEnableScript[] =
    "const f = document.forms[0]; f.t.addEventListener('input', () => setTimeout(() => {"
    " f.elements[1].disabled = !f.t.value; }, 300));";

// The handler empties the text (an editor writing its empty content back)
// before it sends the form's data by fetch.
const char kWipedForm[] =
    "<form action='/wiped/post' method='post'><input name='t'><textarea name='body'></textarea>"
    "<input type='submit' value='Send'></form>";
const char kWipedScript[] = R"(
const f = document.forms[0];
f.addEventListener("submit", async (event) => {
  event.preventDefault();
  f.body.value = "";
  await fetch(f.action, {method: "POST", body: new URLSearchParams(new FormData(f))});
  location.href = "/wiped/done";
});
)";

// A phone mask that reformats what is typed, and a handler that empties the
// text before the browser sends the form itself.
const char kMaskForm[] =
    "<form action='/mask/post' method='post'><input name='phone'><textarea name='body'>"
    "</textarea><input type='submit' value='Send'></form>";
const char kMaskScript[] = R"(
const f = document.forms[0];
f.phone.addEventListener("input", () => {
  const digits = f.phone.value.replace(/\D/g, "");
  f.phone.value = digits.slice(0, 3) + "-" + digits.slice(3);
});
f.addEventListener("submit", () => { f.body.value = ""; });
)";

// No submit control: only the page's own handler sets the token.
const char kHandlerForm[] =
    "<form action='/handler/post' method='post'><input name='t'><input type='hidden' "
    "name='token'></form>";
const char kHandlerScript[] =
    "document.forms[0].addEventListener('submit', (e) => {"
    " e.target.token.value = 'set by the page'; });";

const char kCustomForm[] =
    "<form action='/custom/post' method='post'><input name='t'><star-rating name='stars'>"
    "</star-rating><input type='submit' value='Send'></form>";
const char kCustomScript[] = R"(
customElements.define("star-rating", class extends HTMLElement {
  static formAssociated = true;
  constructor() { super(); this.internals = this.attachInternals(); this.stars = ""; }
  get value() { return this.stars; }
  set value(v) { this.stars = String(v); this.internals.setFormValue(this.stars); }
});
)";

const char kDisabledForm[] =
    "<form action='/disabled/post' method='post'><input name='t'><button disabled>Send</button>"
    "</form>";

// A contact form as jQuery plugins build them: the values are taken by a
// delegated change handler, and the handler posts them by AJAX.
const char kJqueryForm[] =
    "<form id='c' action='/jquery/native' method='post'><input name='t'><select name='country'>"
    "<option value=''>-</option><option value='DE'>Germany</option></select>"
    "<button type='submit'>Send</button></form><script src='/jquery/jquery.js'></script>";
const char kJqueryScript[] = R"(
const data = {};
$(document).on("change", "#c :input", function () { data[this.name] = $(this).val(); });
$("#c").on("submit", function (event) {
  event.preventDefault();
  if (data.t) $.post("/jquery/post", data).done(() => { location.href = "/jquery/done"; });
});
)";

std::string Debian(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string Param(const RecordedRequest& request, const std::string& name) {
  const auto found = request.params.find(name);
  return found == request.params.end() ? "(none)" : found->second;
}

TEST(FaultScriptForms, ScriptedFormsGetWhatAPersonWouldHaveSent) {
  FaultHarness harness;
  const auto add = [&](const std::string& name, const std::string& page, const std::string& fields,
                       const std::vector<std::string>& thanks) {
    harness.server.Serve("/" + name + "/", page);
    for (const std::string& path : thanks)
      harness.server.Serve("/" + name + "/" + path, std::string(kThanks) + " from " + name);
    harness.AddSite(name, harness.server.Url("/" + name + "/"), Script(fields));
  };
  const std::string text = "t=$$headline$$\n";
  add("tracker", Page(kTrackerForm, kTrackerScript),
      text + "body=Full text\ncountry=Germany\nagree=yes\n", {"state", "done"});
  add("enable", Page(kEnableForm, kEnableScript), text, {"post"});
  add("wiped", Page(kWipedForm, kWipedScript), text + "body=Full text\n", {"post", "done"});
  add("mask", Page(kMaskForm, kMaskScript), "phone=5551234\nbody=Full text\n", {"post"});
  add("handler", Page(kHandlerForm, kHandlerScript), text, {"post"});
  add("custom", Page(kCustomForm, kCustomScript), text + "stars=4\n", {"post"});
  add("disabled", Page(kDisabledForm, ""), text, {"post"});
  const std::string jquery = Debian("/usr/share/javascript/jquery/jquery.min.js");
  ASSERT_FALSE(jquery.empty()) << "libjs-jquery is not installed (scripts/setup.sh)";
  harness.server.Serve("/jquery/jquery.js", jquery, "text/javascript");
  add("jquery", Page(kJqueryForm, kJqueryScript), text + "country=Germany\n", {"post", "done"});
  const std::vector<std::string> sites = {"tracker", "enable", "wiped",    "mask",
                                          "handler", "custom", "disabled", "jquery"};
  harness.AddSchedule(1, "Scripted forms", sites);

  // A page timeout far beyond the bound: only the disabled button ends its site.
  harness.Start(600000);
  ASSERT_TRUE(harness.WaitForHistory("Scripted forms"));

  std::map<std::string, std::string> expected;
  for (const std::string& site : sites) expected[site] = "Completed";
  expected["disabled"] = "Submit button disabled";
  EXPECT_EQ(expected, harness.Outcomes("Scripted forms")) << harness.Report("Scripted forms");
  // Behind the stamp: the job's closing line names the reason in parentheses.
  EXPECT_EQ(1, harness.TraceCount(" Submit button disabled"));
  EXPECT_EQ(0, harness.Requests("/disabled/post"));

  const auto only = [&](const std::string& path) {
    const auto requests = harness.server.RequestsTo(path);
    EXPECT_EQ(1u, requests.size()) << path;
    return requests.empty() ? RecordedRequest{} : requests[0];
  };
  const std::string state = only("/tracker/state").body;
  for (const char* field :
       {"\"t\":\"Acme news\"", "\"body\":\"Full text\"", "\"country\":\"DE\"", "\"agree\":true"})
    EXPECT_NE(std::string::npos, state.find(field)) << field << " in " << state;
  EXPECT_EQ(0, harness.Requests("/tracker/native"));
  EXPECT_EQ("Acme news", Param(only("/enable/post"), "t"));
  const RecordedRequest wiped = only("/wiped/post");
  EXPECT_EQ("Full text", Param(wiped, "body"));
  EXPECT_EQ("Acme news", Param(wiped, "t"));
  const RecordedRequest mask = only("/mask/post");
  EXPECT_EQ("555-1234", Param(mask, "phone"));
  EXPECT_EQ("Full text", Param(mask, "body"));
  EXPECT_EQ("set by the page", Param(only("/handler/post"), "token"));
  EXPECT_EQ("4", Param(only("/custom/post"), "stars"));
  const RecordedRequest jqueryPost = only("/jquery/post");
  EXPECT_EQ("Acme news", Param(jqueryPost, "t"));
  EXPECT_EQ("DE", Param(jqueryPost, "country"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
}

}  // namespace
}  // namespace veltrane::testing
