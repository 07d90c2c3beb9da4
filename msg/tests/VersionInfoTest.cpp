#include "msg/VersionInfo.h"

#include <gtest/gtest.h>

#include "msg/Exception.h"
#include "msg/tests/LanguageScope.h"

namespace {

constexpr const char* kBlock = R"(
\VarFileInfo\Translation=0409 04b0 0411 04b0
\StringFileInfo\040904b0\ProductVersion=1, 2, 9, 0
\StringFileInfo\040904b0\LegalCopyright=
\StringFileInfo\041104b0\LegalCopyright=Copyright (C) Kelvaro
)";

TEST(VersionInfo, ReadsTheFirstTranslationThatHasAValue) {
    CVersionInfo info;
    info.Load("/usr/bin/quorvel", kBlock);
    EXPECT_EQ(info.GetVersionNumbers(), (std::array<std::uint16_t, 4>{1, 2, 9, 0}));
    // Empty in the first translation, present in the second.
    EXPECT_EQ(info.GetString("\\StringFileInfo\\", "\\LegalCopyright"), "Copyright (C) Kelvaro");
}

TEST(VersionInfo, FailuresNameTheirCauseAndTheModule) {
    LanguageScope english(Language::English);
    const struct {
        const char* block;
        const char* query;  // "" loads only
        const char* message;
    } cases[] = {
        {nullptr, "", "Failed to get size of version information: "},
        {"\\VarFileInfo\\Translation=0409 04b\n", "", "Version information is missing: "},
        {"\\StringFileInfo\\040904b0\\ProductVersion=1.2.3.4\n", "ProductVersion",
         "Version information value is empty: \\VarFileInfo\\Translation\n\n/p/q"},
        {"\\VarFileInfo\\Translation=0409 04b0\n", "LegalCopyright",
         "Version information value is missing: "
         "\\StringFileInfo\\[ALL_TRANSLATES]\\LegalCopyright\n\n/p/q"},
        {"\\VarFileInfo\\Translation=0409 04b0\n\\StringFileInfo\\040904b0\\ProductVersion=1.2.x.4",
         "numbers", "Version information is invalid\n\n1.2.x.4\n/p/q"},
        {"\\VarFileInfo\\Translation=0409 04b0\n\\StringFileInfo\\040904b0\\ProductVersion=1.2.3",
         "numbers", "Version information is invalid\n\n1.2.3\n/p/q"},
    };
    for (const auto& c : cases) {
        CVersionInfo info;
        std::string message;
        try {
            info.Load("/p/q", c.block);
            if (std::string(c.query) == "numbers") {
                info.GetVersionNumbers();
            } else if (*c.query != '\0') {
                info.GetString("\\StringFileInfo\\", std::string("\\") + c.query);
            }
        } catch (const my::CException& e) {
            message = e.message;
        }
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        EXPECT_NE(message.find("/p/q"), std::string::npos) << message;
    }
}

}  // namespace
