// Finding installed data files from where the executable lies, and the release number that the
// window's caption repeats in its message table.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/DataFiles.h"
#include "common/Messages.h"
#include "common/Version.h"
#include "tests/db/TempDir.h"

namespace tondrel {
namespace {

using tondrel::testing::TempDir;

void Touch(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

TEST(DataFiles, FoundBesideTheExecutablesInstallationOnly) {
    TempDir root;
    const auto prefix = root.Path() / "opt" / "tondrel";
    Touch(prefix / "share" / "tondrel" / "manual.html");
    Touch(root.Path() / "elsewhere" / "manual.html");
    Touch(root.Path() / "elsewhere" / "icon.png");
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share" / "tondrel" / "sub.html");
    const std::string bin = (prefix / "bin").string();
    const std::string other = (root.Path() / "elsewhere").string();

    struct Case {
        std::string Name;
        std::string ExeDir;
        std::string Override;
        std::string Expected;  // empty = not found
    };
    const Case cases[] = {
        {"manual.html", bin, "", (prefix / "share/tondrel/manual.html").string()},
        // The override folder is looked in first, and the installation still serves the rest.
        {"manual.html", bin, other, (root.Path() / "elsewhere/manual.html").string()},
        {"icon.png", bin, other, (root.Path() / "elsewhere/icon.png").string()},
        {"icon.png", bin, "", ""},
        {"manual.html", (root.Path() / "elsewhere").string(), "", ""},
        // A folder is not a data file; names that leave the data folder are refused.
        {"sub.html", bin, "", ""},
        {"../tondrel/manual.html", bin, "", ""},
        {"../../../elsewhere/manual.html", bin, "", ""},
        {(root.Path() / "elsewhere/manual.html").string(), bin, "", ""},
        {"", bin, "", ""},
        {"manual.html", "", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindDataFile(c.Name, c.ExeDir, c.Override), c.Expected)
            << c.Name << " from " << c.ExeDir << " override '" << c.Override << "'";
    }
}

TEST(DataFiles, ExecutableDirIsWhereThisTestRuns) {
    const std::string dir = ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir) / "tondrel_common_tests"));
}

TEST(Version, WindowCaptionShowsTheProjectsRelease) {
    // The caption's text lives in the message table; it must follow the number in CMakeLists.
    const std::string release = std::string("tondrel") + kVersionShort;
    for (Language lang : {Language::Chinese, Language::English})
        EXPECT_NE(Tr("Cap.TMain", lang).find(release), std::string::npos)
            << Tr("Cap.TMain", lang) << " does not name " << release;
    EXPECT_EQ(std::string(kVersion).rfind(kVersionShort, 0), 0u);
}

}  // namespace
}  // namespace tondrel
