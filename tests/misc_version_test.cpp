// The version the library reports is the one its headers were generated
// with, in both forms.
#include <gtest/gtest.h>

#include <string>

#include "kwutil.h"

namespace {

TEST(Version, LibraryReportsTheHeadersVersionAsNumberAndText) {
    EXPECT_EQ(KW_versionNumber(),
              static_cast<uint32_t>(KW_VERSION_MAJOR * 10000 + KW_VERSION_MINOR * 100 + KW_VERSION_PATCH));
    EXPECT_STREQ(KW_versionString(), KW_VERSION_STRING);
    const std::string parts = std::to_string(KW_VERSION_MAJOR) + "." + std::to_string(KW_VERSION_MINOR) + "." +
                              std::to_string(KW_VERSION_PATCH);
    EXPECT_EQ(std::string(KW_versionString()), parts);
    // The sum is unambiguous only while minor and patch stay below 100.
    EXPECT_LT(KW_VERSION_MINOR, 100);
    EXPECT_LT(KW_VERSION_PATCH, 100);
    EXPECT_EQ(KW_versionString(), KW_versionString()) << "one static text, not a new one per call";
}

}  // namespace
