#include "platform/system.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace platform {
namespace {

TEST(SystemLanguage, OnlyGermanVariantsMapToGermanIdentifiers) {
    EXPECT_EQ(LanguageIdFromLocale("de_DE.UTF-8"), 0x0407);
    EXPECT_EQ(LanguageIdFromLocale("de_DE"), 0x0407);
    EXPECT_EQ(LanguageIdFromLocale("de_DE@euro"), 0x0407);
    EXPECT_EQ(LanguageIdFromLocale("de_AT.UTF-8"), 0x0C07);
    EXPECT_EQ(LanguageIdFromLocale("de_CH.UTF-8"), 0x0807);
    EXPECT_EQ(LanguageIdFromLocale("en_US.UTF-8"), 0x0409);
    EXPECT_EQ(LanguageIdFromLocale("C"), 0x0409);
    EXPECT_EQ(LanguageIdFromLocale(""), 0x0409);
}

TEST(SystemLanguage, ReadsLcAllThenLcMessagesThenLang) {
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_MESSAGES", "de_CH.UTF-8", 1);
    setenv("LC_ALL", "", 1);  // empty counts as unset
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0807);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0407);
    setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0409);
    unsetenv("LC_ALL");
    unsetenv("LANG");
}

TEST(System, ExecutableDirectoryEndsInASlash) {
    std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.front(), '/');
}

}  // namespace
}  // namespace platform
