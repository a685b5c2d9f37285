// The benchmark's press-release sites, served by one BenchFarm handler under
// /<kind>/<site number>/. Every kind ends on a page saying "Thank you":
// - flow: a login form, a page of links to search, a form with country and
//   category lists, the answer (four pages);
// - form: one form on the start page, the answer;
// - large: a 5 MB start page with 2,000 controls in 20 forms, 4 lists of 200
//   options and 10,000 links, whose first form is filled, the answer;
// - form-floor, large-floor: the same start pages submitting themselves on
//   load, read by a script that only waits for the answer: what the engine
//   costs without our page work.
// Pages address each other relatively, so one text serves every site.
#pragma once

#include <string>
#include <vector>

#include "tools/bench_farm.h"

namespace veltrane::bench {

enum class SiteKind { Flow, Form, FormFloor, Large, LargeFloor };

const std::vector<SiteKind>& AllSiteKinds();
std::string KindName(SiteKind kind);
bool KindFromName(const std::string& name, SiteKind& kind);

// "/<kind>/<site>/": where a site starts.
std::string StartPath(SiteKind kind, int site);
// The site's name in the subscription table ("flow-7").
std::string SiteName(SiteKind kind, int site);
// The site's step script.
std::string SiteScript(SiteKind kind);

// Answers every page of every kind; anything else is 404.
FarmAnswer ServeSitePage(const FarmRequest& request);

// What a logged request was: the site it belongs to (-1 for none), whether it
// opened the site, whether it fetched the final answer, and the kind of page
// it was answered with ("login", "links", "form", "large", "answer", ...).
struct PageVisit {
  int site = -1;
  bool start = false;
  bool answer = false;
  std::string page;
};
PageVisit VisitOf(const std::string& method, const std::string& path);

}  // namespace veltrane::bench
