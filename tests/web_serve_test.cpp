// The built `veltrane-admin serve` over real HTTP on 127.0.0.1: which Host
// names it answers, sign-in links and sessions under a token, the settings it
// refuses to start with, and HTTPS with a throw-away certificate.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "tests/support/service_process.h"
#include "tests/support/test_database.h"
#include "tests/support/wait_for.h"

namespace veltrane::testing {
namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

// A self-signed certificate for 127.0.0.1 and its key, as PEM files.
void WriteCertificate(const std::string& certificatePath, const std::string& keyPath) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509_sign(cert.get(), key.get(), EVP_sha256());
  std::unique_ptr<FILE, decltype(&std::fclose)> certFile(std::fopen(certificatePath.c_str(), "w"),
                                                         &std::fclose);
  std::unique_ptr<FILE, decltype(&std::fclose)> keyFile(std::fopen(keyPath.c_str(), "w"),
                                                        &std::fclose);
  ASSERT_TRUE(certFile && keyFile);
  PEM_write_X509(certFile.get(), cert.get());
  PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
}

std::string HeaderOf(const httplib::Result& result, const char* name) {
  return result ? result->get_header_value(name) : "(no answer)";
}

class WebServeTest : public ::testing::Test {
 protected:
  WebServeTest() : serve(VELTRANE_ADMIN_EXECUTABLE, serveDir.Path()) {
    databases.Subscription(
        "INSERT INTO subscription (name,url,submission_data) VALUES "
        "('secret-site','http://alpha.example/','[STEP1]\n')");
  }

  void Configure(const std::string& text) {
    std::ofstream(databases.Directory() + "/veltrane.conf") << text;
  }

  void Command(const std::string& listen) {
    serve.SetCommand(
        {serve.Executable(), "--dir", databases.Directory(), "serve", "--listen", listen});
  }

  // Starts serve on 127.0.0.1; gives what it printed once it serves.
  std::string Serve() {
    Command("127.0.0.1:0");
    serve.Start();
    std::string log;
    EXPECT_TRUE(WaitFor(
        [&] {
          log = serve.ErrorLog();
          return log.find("/ (read-only)\n") != std::string::npos;
        },
        std::chrono::seconds(30)))
        << log;
    const std::string found = Capture(log, "//127\\.0\\.0\\.1:(\\d+)/");
    port = found.empty() ? 0 : std::stoi(found);
    return log;
  }

  // A run that is to be refused: its exit code and what it printed.
  std::pair<int, std::string> Refused(const std::string& listen) {
    std::filesystem::remove(serveDir.File("second.log"));
    Command(listen);
    const int code = serve.RunToEnd({}, 20);
    return {code, FileBytes(serveDir.File("second.log"))};
  }

  // The first group of `pattern` in `text`; "" when it is not there.
  static std::string Capture(const std::string& text, const std::string& pattern) {
    std::smatch found;
    return std::regex_search(text, found, std::regex(pattern)) ? found[1].str() : "";
  }

  std::string Host(const std::string& name) const { return name + ":" + std::to_string(port); }

  TestDatabases databases;
  TempDir serveDir;
  ServiceProcess serve;
  int port = 0;
};

TEST_F(WebServeTest, ForeignHostNamesGetNothingOfTheStore) {
  Configure("web_names = view.example\n");
  Serve();
  httplib::Client client("127.0.0.1", port);
  for (const char* path : {"/api/sites", "/", "/grid", "/shot?site=secret-site", "/style.css"}) {
    const auto answer = client.Get(path, {{"Host", Host("attacker.example")}});
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(421, answer->status) << path;
    EXPECT_EQ(std::string::npos, answer->body.find("secret-site")) << path;
  }
  for (const char* name : {"127.0.0.1", "localhost", "[::1]", "VIEW.example"}) {
    const auto answer = client.Get("/api/sites", {{"Host", Host(name)}});
    ASSERT_TRUE(answer) << name;
    EXPECT_EQ(200, answer->status) << name;
    EXPECT_NE(std::string::npos, answer->body.find("secret-site")) << name;
  }
}

TEST_F(WebServeTest, EachSignInIsOnceByGetAndGetsASessionOfItsOwn) {
  Configure(std::string("web_token = ") + kToken + "\n");
  const std::string first =
      Capture(Serve(), "sign in once at http://127\\.0\\.0\\.1:\\d+(/signin\\?code=\\w+)");
  ASSERT_FALSE(first.empty());
  httplib::Client client("127.0.0.1", port);

  // A look at the link leaves it unspent.
  const auto look = client.Head(first.c_str());
  ASSERT_TRUE(look);
  EXPECT_EQ(405, look->status);
  EXPECT_EQ("", HeaderOf(look, "Set-Cookie"));

  const auto signIn = client.Get(first.c_str());
  ASSERT_TRUE(signIn);
  EXPECT_EQ(303, signIn->status);
  const std::string cookieA = HeaderOf(signIn, "Set-Cookie");
  EXPECT_EQ(0u, cookieA.find("veltrane_session=")) << cookieA;
  EXPECT_EQ(std::string::npos, cookieA.find("Secure")) << cookieA;
  EXPECT_EQ(403, client.Get(first.c_str())->status);  // once only

  // With the token, a new link; it begins another session.
  EXPECT_EQ(403, client.Get("/signin")->status);
  const auto renewed = client.Get("/signin", {{"Authorization", std::string("Bearer ") + kToken}});
  ASSERT_TRUE(renewed);
  EXPECT_EQ(200, renewed->status);
  const std::string second =
      Capture(renewed->body,
              "^sign in once at http://" + Host("127\\.0\\.0\\.1") + "(/signin\\?code=\\w+)\n$");
  ASSERT_FALSE(second.empty()) << renewed->body;
  const std::string cookieB = HeaderOf(client.Get(second.c_str()), "Set-Cookie");
  const std::string sessionA = cookieA.substr(0, cookieA.find(';'));
  const std::string sessionB = cookieB.substr(0, cookieB.find(';'));
  EXPECT_NE(sessionA, sessionB);
  EXPECT_EQ(401, client.Get("/api/sites")->status);
  EXPECT_EQ(401, client.Get("/api/sites", {{"Cookie", "veltrane_session=guess"}})->status);
  for (const std::string& session : {sessionA, sessionB}) {
    const auto answer = client.Get("/api/sites", {{"Cookie", session}});
    ASSERT_TRUE(answer) << session;
    EXPECT_EQ(200, answer->status) << session;
    EXPECT_NE(std::string::npos, answer->body.find("secret-site"));
    EXPECT_EQ(421,
              client.Get("/api/sites", {{"Cookie", session}, {"Host", Host("attacker.example")}})
                  ->status);
  }
}

TEST_F(WebServeTest, WeakSettingsAreRefusedWithTheReason) {
  const std::string token = std::string("web_token = ") + kToken + "\n";
  const struct {
    std::string conf;
    const char* listen;
    std::string message;
  } cases[] = {
      {"web_token = 0123456789abcdef0123456789abcde\n", "127.0.0.1:0",
       "web_token is too short: it must hold at least 128 bits, that is 32 characters when it is "
       "hex digits only, 22 otherwise (base64, for one); this one has 31. Make one with 'openssl "
       "rand -hex 16'\n"},
      {token, "192.0.2.1:0",
       "listening on 192.0.2.1 needs HTTPS, or the token and the pages cross the network "
       "readable: set web_certificate and web_key in veltrane.conf, or 'web_plain_http = yes' if "
       "that network is trusted\n"},
      {token + "web_certificate = cert.pem\n", "127.0.0.1:0",
       "web_certificate and web_key go together: set both in veltrane.conf, or neither\n"},
      {"web_plain_http = maybe\n", "127.0.0.1:0",
       "web_plain_http must be yes or no, not 'maybe'\n"},
      // Past every check: 192.0.2.1 is not this machine's, so nothing listens.
      {token + "web_plain_http = yes\n", "192.0.2.1:0", "cannot listen on 192.0.2.1:0: "},
  };
  for (const auto& c : cases) {
    Configure(c.conf);
    const auto [code, printed] = Refused(c.listen);
    EXPECT_EQ(1, code) << c.conf << printed;
    EXPECT_EQ(0u, printed.find("veltrane-admin: " + c.message)) << c.conf << printed;
  }
}

TEST_F(WebServeTest, WithACertificateItServesHttpsAndTheCookieStaysThere) {
  WriteCertificate(databases.Directory() + "/cert.pem", databases.Directory() + "/key.pem");
  Configure(std::string("web_token = ") + kToken +
            "\nweb_certificate = cert.pem\nweb_key = key.pem\n");
  const std::string link =
      Capture(Serve(), "sign in once at https://127\\.0\\.0\\.1:\\d+(/signin\\?code=\\w+)");
  ASSERT_FALSE(link.empty()) << serve.ErrorLog();
  httplib::SSLClient client("127.0.0.1", port);
  client.enable_server_certificate_verification(false);
  const auto signIn = client.Get(link.c_str());
  ASSERT_TRUE(signIn) << httplib::to_string(signIn.error());
  EXPECT_EQ(303, signIn->status);
  const std::string cookie = HeaderOf(signIn, "Set-Cookie");
  EXPECT_NE(std::string::npos, cookie.find("; Secure")) << cookie;
  const auto sites = client.Get("/api/sites", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
  ASSERT_TRUE(sites);
  EXPECT_NE(std::string::npos, sites->body.find("secret-site"));
  // Plain HTTP on that port gets no page.
  const auto plain = httplib::Client("127.0.0.1", port)
                         .Get("/api/sites", {{"Authorization", std::string("Bearer ") + kToken}});
  EXPECT_TRUE(!plain || plain->body.find("secret-site") == std::string::npos);
}

}  // namespace
}  // namespace veltrane::testing
