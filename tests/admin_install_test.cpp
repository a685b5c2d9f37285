// What makes veltrane-admin an installed program: its shell completion, its
// manual pages made from the command table, and the service folder it takes
// without --dir.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "admin/commands.h"
#include "admin/completion.h"
#include "admin/help.h"
#include "admin/man_page.h"
#include "admin/service_folder.h"
#include "tests/support/temp_dir.h"

namespace veltrane::admin {
namespace {

using Words = std::vector<std::string>;

struct FakeNames {
  int reads = 0;
  CompletionNames Names() {
    return {[this] {
              ++reads;
              return Words{"Alpha", "Beta Wire"};
            },
            [this] {
              ++reads;
              return Words{"Spring launch", "Summer"};
            }};
  }
};

Words Complete(const Words& typed, const std::string& current, FakeNames& names) {
  return CompletionCandidates(typed, current, names.Names());
}

bool Has(const Words& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

TEST(AdminCompletionTest, CommandsOptionsAndTheNamesInTheStore) {
  FakeNames names;
  const Words first = Complete({}, "", names);
  EXPECT_TRUE(Has(first, "init") && Has(first, "site") && Has(first, "--dir"));
  EXPECT_EQ(1, std::count(first.begin(), first.end(), "site"));
  EXPECT_EQ(Words{"try"}, Complete({"site"}, "t", names));
  EXPECT_EQ(0, names.reads);

  EXPECT_EQ((Words{"Alpha", "Beta Wire"}), Complete({"site", "try"}, "", names));
  EXPECT_EQ(Words{"Beta Wire"}, Complete({"account", "set"}, "B", names));
  EXPECT_EQ(Words{"Summer"}, Complete({"release", "show"}, "Su", names));
  EXPECT_EQ((Words{"Spring launch", "Summer"}),
            Complete({"site", "try", "Alpha", "--release"}, "", names));
  EXPECT_EQ((Words{"Alpha,Alpha", "Alpha,Beta Wire"}),
            Complete({"schedule", "add", "--release", "Summer", "--sites"}, "Alpha,", names));
  const Words options = Complete({"site", "try", "Alpha"}, "--", names);
  EXPECT_TRUE(Has(options, "--release") && Has(options, "--submit") && Has(options, "--help"));

  // No name where the usage wants none: file names are the shell's.
  names.reads = 0;
  EXPECT_TRUE(Complete({"site", "try", "Alpha", "--release", "Summer"}, "", names).empty());
  EXPECT_TRUE(Complete({"site", "add"}, "", names).empty());
  EXPECT_TRUE(Complete({"release", "add"}, "", names).empty());
  EXPECT_TRUE(Complete({"site", "check", "--file"}, "", names).empty());
  EXPECT_EQ(0, names.reads);
}

TEST(AdminManPageTest, RoffOfTheHelpTextsWithEveryCommand) {
  EXPECT_EQ(".PP\n\\-\\-dir a\\eb\n\\&.dot\n.nf\n  an example\n.fi\nafter\n",
            RoffText("\n--dir a\\b\n.dot\n  an example\nafter\n"));
  const std::string page = AdminManPage();
  EXPECT_EQ(0u, page.find(".TH VELTRANE\\-ADMIN 8 ")) << page.substr(0, 80);
  for (const Command& command : AllCommands()) {
    std::string heading = ".SS \"";
    for (char c : CommandLine(command))
      heading += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(std::string::npos, page.find(heading + "\"\n")) << heading;
  }
  EXPECT_NE(std::string::npos, page.find(".SH \"EXIT STATUS\""));
  const std::string format = ".SH \"PRESS RELEASE FILES\"";
  EXPECT_EQ(page.find(format), page.rfind(format));  // shared by two commands, printed once
  const std::string service = ServiceManPage();
  EXPECT_NE(std::string::npos,
            service.find(".SH SYNOPSIS\nveltrane [\\-\\-help | \\-\\-version]\n"));
  EXPECT_NE(std::string::npos, service.find("VELTRANE_DATABASE_URL"));
}

TEST(AdminServiceFolderTest, CurrentFolderThenTheToolsOwnThenCurrent) {
  testing::TempDir current, own;
  EXPECT_EQ(current.Path(), DefaultServiceFolder(current.Path(), own.Path()));
  std::ofstream(own.File("veltrane.conf")) << "# installed\n";
  EXPECT_EQ(own.Path(), DefaultServiceFolder(current.Path(), own.Path()));
  std::filesystem::create_directory(current.File("db"));
  EXPECT_EQ(current.Path(), DefaultServiceFolder(current.Path(), own.Path()));
  EXPECT_EQ(current.Path(), DefaultServiceFolder(current.Path(), ""));
}

}  // namespace
}  // namespace veltrane::admin
