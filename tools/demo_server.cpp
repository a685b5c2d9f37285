// veltrane-demo-server: three small press-release sites on 127.0.0.1 for the
// demo run. "alpha" wants a login, then a link search, then a form with
// country and category lists; "beta" takes a form on its start page; "gamma"
// refuses every submission. Every form post is printed to standard output.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* kCountries = R"(<select name="country">
  <option value="">Choose a country</option>
  <option value="AU">Australia</option>
  <option value="DE">Germany</option>
  <option value="US">United States</option>
</select>)";

const char* kCategories = R"(<select name="category">
  <option value="">Choose a category</option>
  <option value="biz">Business</option>
  <option value="tech">Technology and Internet</option>
  <option value="health">Health</option>
</select>)";

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
         "</title></head><body><h1>" + title + "</h1>" + body + "</body></html>";
}

void Record(const httplib::Request& request) {
  std::string line = "POST " + request.path;
  for (const auto& [name, value] : request.params) line += " " + name + "=" + value;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Html(httplib::Response& response, const std::string& html) {
  response.set_content(html, "text/html; charset=utf-8");
}

void AddAlpha(httplib::Server& server) {
  server.Get("/alpha/", [](const httplib::Request&, httplib::Response& response) {
    Html(response, Page("Daily Wire: sign in",
                        R"(<form action="/alpha/login" method="post">
  User <input name="username"> Password <input type="password" name="password">
  <input type="submit" value="Sign in"></form>)"));
  });
  server.Post("/alpha/login", [](const httplib::Request& request, httplib::Response& response) {
    Record(request);
    if (request.get_param_value("username") == "demo" &&
        request.get_param_value("password") == "secret")
      response.set_redirect("/alpha/members");
    else
      Html(response, Page("Daily Wire", "<p>Wrong user name or password.</p>"));
  });
  server.Get("/alpha/members", [](const httplib::Request&, httplib::Response& response) {
    Html(response, Page("Daily Wire: members",
                        R"(<p>Welcome back.</p><ul><li><a href="/alpha/help">Help</a></li>
<li><a href="/alpha/submit-news">Submit news</a></li></ul>)"));
  });
  server.Get("/alpha/submit-news", [](const httplib::Request&, httplib::Response& response) {
    Html(response,
         Page("Daily Wire: submit news", std::string(R"(<form action="/alpha/submit" method="post">
  Headline <input name="headline"> Summary <input name="summary">
  <textarea name="body"></textarea> E-mail <input name="email">
  )") + kCountries + kCategories + R"(<input type="submit" value="Publish"></form>)"));
  });
  server.Post("/alpha/submit", [](const httplib::Request& request, httplib::Response& response) {
    Record(request);
    Html(response, Page("Daily Wire", "<p>Thank you, your release is queued for review.</p>"));
  });
}

void AddSimpleSite(httplib::Server& server, const std::string& site, const std::string& title,
                   const std::string& answer) {
  server.Get("/" + site + "/", [=](const httplib::Request&, httplib::Response& response) {
    Html(response, Page(title, "<form action=\"/" + site + R"(/post" method="post">
  Company <input name="company"> Headline <input name="title">
  <textarea name="text"></textarea><input type="submit" value="Send"></form>)"));
  });
  server.Post("/" + site + "/post",
              [=](const httplib::Request& request, httplib::Response& response) {
                Record(request);
                Html(response, Page(title, "<p>" + answer + "</p>"));
              });
}

}  // namespace

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 8765;
  httplib::Server server;
  AddAlpha(server);
  AddSimpleSite(server, "beta", "Press Hub", "Your press release was received.");
  AddSimpleSite(server, "gamma", "Closed Wire", "Submissions are closed this week.");
  if (!server.bind_to_port("127.0.0.1", port)) {
    std::fprintf(stderr, "veltrane-demo-server: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf("veltrane-demo-server: listening on http://127.0.0.1:%d/\n", port);
  std::fflush(stdout);
  server.listen_after_bind();
  return 0;
}
