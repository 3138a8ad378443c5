#include "platform/system/Entitlements.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

using platform::Entitlements;
using testsupport::TemporaryDirectory;

TEST(EntitlementsTest, ReadsStringArraysAndRefusesWhatIsNotAnObject)
{
    TemporaryDirectory folder;
    const auto file = folder / Entitlements::fileName;
    testsupport::writeFile(file, R"({
        "com.apple.developer.icloud-container-identifiers": ["iCloud.com.OrvandaNote", "iCloud.other"],
        "mixed": ["a", 1],
        "flag": true
    })");
    const auto entitlements = Entitlements::load(file);
    ASSERT_TRUE(entitlements);
    EXPECT_EQ(entitlements->stringArray(Entitlements::iCloudContainerIdentifiersKey),
              (std::vector<std::string> {"iCloud.com.OrvandaNote", "iCloud.other"}));
    EXPECT_TRUE(entitlements->contains("mixed"));
    EXPECT_FALSE(entitlements->stringArray("mixed"));
    EXPECT_FALSE(entitlements->stringArray("flag"));
    EXPECT_FALSE(entitlements->contains("absent"));
    EXPECT_FALSE(entitlements->stringArray("absent"));

    EXPECT_FALSE(Entitlements::load(folder / "missing.json"));
    testsupport::writeFile(file, R"(["iCloud.com.OrvandaNote"])");
    EXPECT_FALSE(Entitlements::load(file));
    testsupport::writeFile(file, "{ not json");
    EXPECT_FALSE(Entitlements::load(file));
    testsupport::writeFile(file, "");
    EXPECT_FALSE(Entitlements::load(file));
    EXPECT_FALSE(Entitlements::load(folder.path()));

    // The program's own folder is where the test program lies.
    const auto own = Entitlements::executableFolder();
    ASSERT_TRUE(own);
    EXPECT_TRUE(std::filesystem::exists(*own / "platform_tests"));
}

TEST(EntitlementsTest, TheInstalledFileGrantsTheAppsContainer)
{
    const char* source = std::getenv("PARLINO_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const auto entitlements = Entitlements::load(std::filesystem::path(source) / "app" / Entitlements::fileName);
    ASSERT_TRUE(entitlements);
    const auto identifiers = entitlements->stringArray(Entitlements::iCloudContainerIdentifiersKey);
    ASSERT_TRUE(identifiers);
    EXPECT_EQ(*identifiers, std::vector<std::string> {"iCloud.com.OrvandaNote"});
}
