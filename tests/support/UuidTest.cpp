#include "support/Uuid.h"

#include <gtest/gtest.h>
#include <set>

namespace varnello {
namespace {

TEST(Uuid, ReadsEitherCaseAndWritesUpperCase) {
    const auto lower = Uuid::parse("8e6f2c1a-5b3d-4e7f-9a0b-1c2d3e4f5a6b");
    const auto upper = Uuid::parse("8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(lower->text(), "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B");
    EXPECT_EQ(Uuid().text(), "00000000-0000-0000-0000-000000000000");
}

TEST(Uuid, RefusesEveryOtherForm) {
    const std::string_view refused[] = {
        "",
        "8E6F2C1A5B3D4E7F9A0B1C2D3E4F5A6B",
        "{8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B}",
        "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6",
        "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6BB",
        "8E6F2C1A-5B3D-4E7F-9A0B_1C2D3E4F5A6B",
        "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6G",
        "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6\0",
    };
    for (const auto text : refused) {
        EXPECT_EQ(Uuid::parse(text), std::nullopt) << text;
    }
}

TEST(Uuid, RandomIdentifiersAreVersion4AndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes()[8] & 0xC0, 0x80);
        EXPECT_EQ(Uuid::parse(uuid.text()), uuid);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

} // namespace
} // namespace varnello
