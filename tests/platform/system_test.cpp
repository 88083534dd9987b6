#include "platform/system.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace platform {
namespace {

TEST(SystemLanguage, OnlyGermanVariantsMapToGermanIdentifiers) {
    const std::pair<const char*, int> cases[] = {{"de_DE.UTF-8", 0x0407}, {"de_DE", 0x0407},
                                                 {"de_DE@euro", 0x0407},  {"de_AT.UTF-8", 0x0C07},
                                                 {"de_CH.UTF-8", 0x0807}, {"en_US.UTF-8", 0x0409},
                                                 {"C", 0x0409},           {"", 0x0409}};
    for (const auto& [locale, id] : cases)
        EXPECT_EQ(LanguageIdFromLocale(locale), id) << locale;
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
