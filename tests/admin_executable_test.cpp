// Runs the built veltrane-admin as a person would: through a shell, the
// password piped into standard input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/file_modes.h"
#include "tests/support/temp_dir.h"

namespace veltrane::admin {
namespace {

using veltrane::testing::FileBytes;
using veltrane::testing::ModeOf;
using veltrane::testing::ScopedUmask;
using veltrane::testing::TempDir;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs "<input> | veltrane-admin <arguments>" in `dir` (paths hold no blanks).
Result RunTool(const TempDir& dir, const std::string& arguments, const std::string& input = "") {
  const std::string command = "cd " + dir.Path() + " && " + input + " " +
                              VELTRANE_ADMIN_EXECUTABLE + " " + arguments + " >out.txt 2>err.txt" +
                              (input.empty() ? " </dev/null" : "");
  const int status = std::system(command.c_str());
  Result result;
  if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
  result.out = FileBytes(dir.File("out.txt"));
  result.err = FileBytes(dir.File("err.txt"));
  return result;
}

TEST(AdminExecutableTest, HelpAndExitCodesOfTheBuiltTool) {
  TempDir dir;
  Result result = RunTool(dir, "--help");
  EXPECT_EQ(0, result.code);
  EXPECT_EQ(0u, result.out.find("usage: veltrane-admin [--dir DIR] <command> ...")) << result.out;
  EXPECT_NE(std::string::npos,
            result.out.find("4 site try: the\nsite failed, page inspect: the address did not load"))
      << result.out;
  result = RunTool(dir, "schedule add --help");
  EXPECT_EQ(0, result.code);
  EXPECT_NE(std::string::npos, result.out.find("every-30-days")) << result.out;
  result = RunTool(dir, "release list");
  EXPECT_EQ(3, result.code);
  // Without --dir the message names the folder it looked in.
  EXPECT_EQ("veltrane-admin: " + dir.Path() +
                "/db/vt.dat does not exist (create it with 'veltrane-admin init')\n",
            result.err);
  result = RunTool(dir, "release frobnicate");
  EXPECT_EQ(2, result.code);
  result = RunTool(dir, "--version");
  EXPECT_EQ(0, result.code);
  EXPECT_EQ("veltrane-admin " VELTRANE_PROJECT_VERSION "\n", result.out);
}

TEST(AdminExecutableTest, SetsUpASiteWithItsPasswordFromAPipe) {
  TempDir dir;
  ASSERT_EQ(0, RunTool(dir, "init").code);
  std::ofstream(dir.File("s.ini")) << "[STEP1]\nAPP-SuccessString=ok\n";
  Result result = RunTool(dir, "--dir . site add Alpha --url http://127.0.0.1:1/ --script s.ini");
  ASSERT_EQ(0, result.code) << result.err;
  result = RunTool(dir, "account set Alpha --user acme", "printf 'top secret\\n' |");
  ASSERT_EQ(0, result.code) << result.err;
  EXPECT_EQ("set the account of site 'Alpha' (user 'acme')\n", result.out);
  result = RunTool(dir, "site show Alpha");
  EXPECT_EQ(0, result.code);
  EXPECT_NE(std::string::npos, result.out.find("user: acme\npassword: set\n")) << result.out;
  EXPECT_EQ(std::string::npos, result.out.find("top secret")) << result.out;
}

// Under the usual umask the files are still private, and a script piped in
// is read as bytes, NUL and all, and refused.
TEST(AdminExecutableTest, KeepsFilesPrivateAndRefusesAPipedScriptWithANulByte) {
  TempDir dir;
  const ScopedUmask usual(022);  // the shell and the tool inherit it
  ASSERT_EQ(0, RunTool(dir, "init").code);
  EXPECT_EQ(0700, ModeOf(dir.File("db")));
  EXPECT_EQ(0600, ModeOf(dir.File("db/vt.dat")));
  EXPECT_EQ(0600, ModeOf(dir.File("db/subscription2.dat")));
  Result result =
      RunTool(dir, "site add Alpha --url http://127.0.0.1:1/ --script -",
              "printf '[STEP1]\\nAPP-GotoLink=u\\n\\000[STEP2]\\nAPP-SuccessString=ok\\n' |");
  EXPECT_EQ(3, result.code);
  EXPECT_EQ("veltrane-admin: Site script contains a NUL byte\n", result.err);
  result = RunTool(dir, "site list");
  EXPECT_EQ("NAME  URL  STEPS  USER\n", result.out) << "nothing stored";
}

// init often runs as root: a symbolic link in place of a database file (one
// that leads nowhere too) is refused before anything is changed, and what it
// leads to stays as it was. No other command opens a database through one.
TEST(AdminExecutableTest, RefusesASymbolicLinkInPlaceOfADatabaseFile) {
  TempDir dir;
  TempDir elsewhere;
  const ScopedUmask usual(022);
  const std::string owned = elsewhere.File("owned.dat");
  std::ofstream(owned).flush();  // empty: SQLite would take it for a new database
  ASSERT_EQ(0644, ModeOf(owned));
  std::filesystem::create_directory(dir.File("db"));
  std::filesystem::create_symlink(owned, dir.File("db/vt.dat"));
  Result result = RunTool(dir, "init");
  EXPECT_EQ(1, result.code);
  EXPECT_EQ(
      "veltrane-admin: " + dir.File("db/vt.dat") + " is a symbolic link, which is not followed\n",
      result.err);
  EXPECT_TRUE(FileBytes(owned).empty());  // no database was written into it
  EXPECT_EQ(0644, ModeOf(owned));
  EXPECT_FALSE(std::filesystem::exists(dir.File("db/subscription2.dat")));

  std::filesystem::remove(dir.File("db/vt.dat"));
  std::filesystem::create_symlink(elsewhere.File("new.dat"), dir.File("db/subscription2.dat"));
  result = RunTool(dir, "init");
  EXPECT_EQ(1, result.code);
  EXPECT_EQ("veltrane-admin: " + dir.File("db/subscription2.dat") +
                " is a symbolic link, which is not followed\n",
            result.err);
  EXPECT_FALSE(std::filesystem::exists(elsewhere.File("new.dat")));

  std::filesystem::remove(dir.File("db/subscription2.dat"));
  ASSERT_EQ(0, RunTool(dir, "init").code);
  ASSERT_EQ(0, RunTool(elsewhere, "init").code);
  std::filesystem::remove(dir.File("db/subscription2.dat"));
  std::filesystem::create_symlink(elsewhere.File("db/subscription2.dat"),
                                  dir.File("db/subscription2.dat"));
  result = RunTool(dir, "site list");
  EXPECT_NE(0, result.code);
  EXPECT_NE(std::string::npos, result.err.find("is a symbolic link, which is not followed"))
      << result.err;
}

// An installed copy finds its own service folder from anywhere, and the shell
// completion reads the site names from it.
TEST(AdminExecutableTest, InstalledCopyFindsItsFolderWithoutDir) {
  TempDir installed;
  TempDir elsewhere;
  const std::string tool = installed.File("veltrane-admin");
  ASSERT_EQ(0, std::system(("cp " + std::string(VELTRANE_ADMIN_EXECUTABLE) + " " + tool).c_str()));
  ASSERT_EQ(0, RunTool(elsewhere, "init " + installed.Path()).code);
  std::ofstream(elsewhere.File("s.ini")) << "[STEP1]\nAPP-SuccessString=ok\n";
  ASSERT_EQ(0, RunTool(elsewhere, "--dir " + installed.Path() +
                                      " site add Alpha --url http://127.0.0.1:1/ --script s.ini")
                   .code);

  // The build's copy has no folder of its own: it looks in the current one.
  Result result = RunTool(elsewhere, "site list");
  EXPECT_EQ(3, result.code);
  EXPECT_NE(std::string::npos, result.err.find(elsewhere.Path() + "/db/subscription2.dat"))
      << result.err;
  const std::string command = "cd " + elsewhere.Path() + " && " + tool;
  EXPECT_EQ(0, std::system((command + " site list >out.txt 2>err.txt").c_str()));
  EXPECT_NE(std::string::npos, FileBytes(elsewhere.File("out.txt")).find("Alpha"))
      << FileBytes(elsewhere.File("err.txt"));
  EXPECT_EQ(0, std::system((command + " --complete site show A >out.txt").c_str()));
  EXPECT_EQ("Alpha\n", FileBytes(elsewhere.File("out.txt")));
}

}  // namespace
}  // namespace veltrane::admin
