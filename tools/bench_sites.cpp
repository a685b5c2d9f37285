#include "tools/bench_sites.h"

#include <cstdlib>

namespace veltrane::bench {
namespace {

constexpr const char* kHead =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Newswire</title></head>";
// Submits the first form once the page has loaded, as a page of its own would.
constexpr const char* kSubmitOnLoad =
    "<script>addEventListener('load', () => "
    "HTMLFormElement.prototype.submit.call(document.forms[0]));</script>";

std::string Select(const std::string& name, int options) {
  std::string html = "<select name=\"" + name + "\"><option value=\"\">Choose</option>";
  for (int i = 1; i < options; ++i) {
    const std::string text = i == options / 2 ? "Business" : "Topic " + std::to_string(i);
    html += "<option value=\"" + std::to_string(i) + "\">" + text + "</option>";
  }
  return html + "</select>";
}

std::string Page(const std::string& body, bool submitOnLoad = false) {
  return std::string(kHead) + "<body>" + body + (submitOnLoad ? kSubmitOnLoad : "") +
         "</body></html>";
}

const std::string& LoginPage() {
  static const std::string page = Page(
      "<h1>Sign in</h1><form action=\"login\" method=\"post\">User <input name=\"user\"> "
      "Password <input type=\"password\" name=\"pass\"><input type=\"submit\" "
      "value=\"Sign in\"></form>");
  return page;
}

const std::string& LinksPage() {
  static const std::string page = [] {
    std::string body = "<h1>Members</h1><p>Welcome back.</p><ul>";
    for (const char* link : {"help", "archive", "profile", "submit-news", "contact", "logout"})
      body += std::string("<li><a href=\"") + link + "\">" + link + "</a></li>";
    return Page(body + "</ul>");
  }();
  return page;
}

std::string FormBody(const std::string& action) {
  return "<h1>Submit news</h1><form action=\"" + action +
         "\" method=\"post\">Headline <input name=\"headline\"> Company <input "
         "name=\"company\"> E-mail <input name=\"email\"><textarea name=\"body\"></textarea>" +
         Select("country", 40) + Select("category", 30) +
         "<input type=\"submit\" value=\"Publish\"></form>";
}

std::string LargeBody() {
  std::string body = "<h1>Submit news</h1>";
  // 20 forms of 100 controls: the first is the one the script fills.
  for (int form = 0; form < 20; ++form) {
    body += form == 0 ? "<form action=\"post\" method=\"post\">"
                      : "<form action=\"other\" method=\"post\">";
    int controls = 0;
    if (form == 0) {
      body += "<input name=\"headline\"><textarea name=\"body\"></textarea>";
      for (int list = 0; list < 4; ++list)
        body += Select(list == 0 ? "category" : "list" + std::to_string(list), 200);
      body += "<input type=\"submit\" value=\"Publish\">";
      controls = 7;
    }
    for (; controls < 100; ++controls)
      body += "<input name=\"f" + std::to_string(form) + "_" + std::to_string(controls) +
              "\" value=\"v" + std::to_string(controls) + "\">";
    body += "</form>";
  }
  body += "<ul>";
  for (int link = 0; link < 10000; ++link) {
    const std::string n = std::to_string(link);
    body += "<li><a href=\"item/" + n + "\">Item " + n + "</a></li>";
  }
  body += "</ul>";
  const std::string paragraph =
      "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
      "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
      "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. Duis aute irure "
      "dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla pariatur."
      "</p>\n";
  while (body.size() < 5 * 1024 * 1024) body += paragraph;
  return body;
}

const std::string& FormPage(bool floor) {
  static const std::string plain = Page(FormBody("post"));
  static const std::string submitting = Page(FormBody("post"), true);
  return floor ? submitting : plain;
}

const std::string& LargePage(bool floor) {
  static const std::string body = LargeBody();
  static const std::string plain = Page(body);
  static const std::string submitting = Page(body, true);
  return floor ? submitting : plain;
}

const std::string& AnswerPage() {
  static const std::string page = Page("<p>Thank you, your release is queued for review.</p>");
  return page;
}

constexpr const char* kFormFields =
    "headline=$$headline$$\ncompany=$$company_name$$\nemail=$$email$$\nbody=$$news_body$$\n"
    "country=$$country\ncategory=$$category$$\n";
constexpr const char* kWaitForAnswer =
    "[STEP1]\nAPP-WaitForRedirect=1\n[STEP2]\nAPP-SuccessString=Thank you\n";

}  // namespace

const std::vector<SiteKind>& AllSiteKinds() {
  static const std::vector<SiteKind> kinds{SiteKind::Flow, SiteKind::Form, SiteKind::FormFloor,
                                           SiteKind::Large, SiteKind::LargeFloor};
  return kinds;
}

std::string KindName(SiteKind kind) {
  switch (kind) {
    case SiteKind::Flow: return "flow";
    case SiteKind::Form: return "form";
    case SiteKind::FormFloor: return "form-floor";
    case SiteKind::Large: return "large";
    case SiteKind::LargeFloor: return "large-floor";
  }
  return "";
}

bool KindFromName(const std::string& name, SiteKind& kind) {
  for (SiteKind candidate : AllSiteKinds()) {
    if (KindName(candidate) == name) {
      kind = candidate;
      return true;
    }
  }
  return false;
}

std::string StartPath(SiteKind kind, int site) {
  return "/" + KindName(kind) + "/" + std::to_string(site) + "/";
}

std::string SiteName(SiteKind kind, int site) {
  return KindName(kind) + "-" + std::to_string(site);
}

std::string SiteScript(SiteKind kind) {
  switch (kind) {
    case SiteKind::Flow:
      return std::string("[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n") +
             "[STEP2]\nAPP-SearchLinkPattern=submit-news\n[STEP3]\nAPP-FormPos=0\n" + kFormFields +
             "[STEP4]\nAPP-SuccessString=Thank you\n";
    case SiteKind::Form:
      return std::string("[STEP1]\nAPP-FormPos=0\n") + kFormFields +
             "[STEP2]\nAPP-SuccessString=Thank you\n";
    case SiteKind::Large:
      return "[STEP1]\nAPP-FormPos=0\nheadline=$$headline$$\nbody=$$news_body$$\n"
             "category=$$category$$\n[STEP2]\nAPP-SuccessString=Thank you\n";
    case SiteKind::FormFloor:
    case SiteKind::LargeFloor: return kWaitForAnswer;
  }
  return "";
}

PageVisit VisitOf(const std::string& method, const std::string& path) {
  PageVisit visit;
  // "/<kind>/<site>/<rest>"
  const std::size_t kindEnd = path.find('/', 1);
  if (path.empty() || path[0] != '/' || kindEnd == std::string::npos) return visit;
  SiteKind kind;
  if (!KindFromName(path.substr(1, kindEnd - 1), kind)) return visit;
  const std::size_t siteEnd = path.find('/', kindEnd + 1);
  if (siteEnd == std::string::npos) return visit;
  char* end = nullptr;
  const long site = std::strtol(path.c_str() + kindEnd + 1, &end, 10);
  if (end != path.c_str() + siteEnd || site < 0) return visit;
  const std::string rest = path.substr(siteEnd + 1);
  const bool post = method == "POST";
  visit.site = static_cast<int>(site);
  if (rest.empty() && !post) {
    visit.start = true;
    switch (kind) {
      case SiteKind::Flow: visit.page = "login"; break;
      case SiteKind::Form: visit.page = "form"; break;
      case SiteKind::FormFloor: visit.page = "form-floor"; break;
      case SiteKind::Large: visit.page = "large"; break;
      case SiteKind::LargeFloor: visit.page = "large-floor"; break;
    }
  } else if (kind == SiteKind::Flow && post && rest == "login") {
    visit.page = "links";
  } else if (kind == SiteKind::Flow && !post && rest == "submit-news") {
    visit.page = "form";
  } else if (post && rest == "post") {
    visit.page = "answer";
    visit.answer = true;
  } else {
    visit.site = -1;
  }
  return visit;
}

FarmAnswer ServeSitePage(const FarmRequest& request) {
  const PageVisit visit = VisitOf(request.method, request.path);
  FarmAnswer answer;
  if (visit.page == "login")
    answer.body = LoginPage();
  else if (visit.page == "links")
    answer.body = LinksPage();
  else if (visit.page == "form")
    answer.body = FormPage(false);
  else if (visit.page == "form-floor")
    answer.body = FormPage(true);
  else if (visit.page == "large")
    answer.body = LargePage(false);
  else if (visit.page == "large-floor")
    answer.body = LargePage(true);
  else if (visit.answer)
    answer.body = AnswerPage();
  else {
    answer.status = 404;
    answer.body = Page("<p>Not here.</p>");
  }
  return answer;
}

}  // namespace veltrane::bench
