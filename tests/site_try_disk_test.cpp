// The built veltrane-admin's site try keeps nothing of a trial on disk but
// its pictures, and those are private: after a login sent with GET (the
// password in the address), no file under the tool's home, cache, data and
// config folders, nor in its directory (the database files aside), holds
// the password in any spelling.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/file_modes.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/secret_search.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_database.h"

namespace veltrane::testing {
namespace {

constexpr const char* kPassword = "P\xc3\xa4ss w0rd&\xe2\x82\xac/1";

TEST(SiteTryDisk, ATrialKeepsNoLoginOnDiskAndItsPicturesArePrivate) {
  RecordingHttpServer server;
  TestDatabases databases;
  TempDir home;
  server.Serve("/g/",
               "<html><head><meta charset='utf-8'></head><body><form action='/g/welcome' "
               "method='get'><input name='user'><input type='password' name='pass'>"
               "<input type='submit' value='Log in'></form></body></html>");
  // Answered with nothing that forbids keeping it.
  server.Handle("/g/welcome", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("Thank you, editor", "text/html");
  });
  databases.Main(
      "INSERT INTO pressrelease (name,headline) VALUES ('Launch','Acme ships');"
      "INSERT INTO account (name,username,password) VALUES ('g','editor','" +
      std::string(kPassword) + "')");
  databases.Subscription("INSERT INTO subscription (name,url,submission_data) VALUES ('g','" +
                         server.Url("/g/") +
                         "','[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n"
                         "[STEP2]\nAPP-SuccessString=Thank you\n')");

  const char* argv[] = {VELTRANE_ADMIN_EXECUTABLE,
                        "--dir",
                        databases.Directory().c_str(),
                        "site",
                        "try",
                        "g",
                        "--release",
                        "Launch",
                        "--no-submit",
                        nullptr};
  gchar** environment = g_get_environ();
  for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
    environment = g_environ_setenv(environment, name, home.File(name).c_str(), TRUE);
  g_autofree gchar* out = nullptr;
  g_autofree gchar* err = nullptr;
  gint status = 0;
  bool ran = false;
  {
    ScopedUmask umask(022);  // under which folders would be made 0755, files 0644
    ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), environment, G_SPAWN_DEFAULT, nullptr,
                       nullptr, &out, &err, &status, nullptr);
  }
  g_strfreev(environment);
  ASSERT_TRUE(ran);
  ASSERT_TRUE(g_spawn_check_wait_status(status, nullptr)) << out << err;
  ASSERT_EQ(1u, server.RequestsTo("/g/welcome").size()) << out;

  const std::vector<std::string> spellings = SecretSpellings(kPassword);
  EXPECT_EQ(std::vector<SecretFound>{}, FilesHolding(home.Path(), spellings));
  EXPECT_EQ(std::vector<SecretFound>{},
            FilesHolding(databases.Directory(), spellings, {"db/vt.dat", "db/subscription2.dat"}));

  // tries/<time>-g/page-NN.png, the folders made by the trial.
  const std::string tries = databases.Directory() + "/tries";
  EXPECT_EQ(0700, ModeOf(tries));
  int pictures = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tries)) {
    EXPECT_EQ(entry.is_directory() ? 0700 : 0600, ModeOf(entry.path().string())) << entry.path();
    pictures += entry.is_regular_file();
  }
  EXPECT_EQ(2, pictures) << out;
}

}  // namespace
}  // namespace veltrane::testing
