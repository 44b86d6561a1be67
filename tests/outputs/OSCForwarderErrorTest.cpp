#include "outputs/OSCForwarderError.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

TEST(OSCForwarderErrorTest, DescriptionsAreFixedTexts) {
    const struct {
        OSCForwarderError error;
        OSCForwarderError::Code code;
        const char* text;
    } cases[] = {
        {OSCForwarderError::cannotResolve("no-such-host.invalid"),
         OSCForwarderError::Code::cannotResolve,
         "Could not find OSC host \u2018no-such-host.invalid\u2019."},
        {OSCForwarderError::cannotResolve(""), OSCForwarderError::Code::cannotResolve,
         "Could not find OSC host \u2018\u2019."},
        {OSCForwarderError::cannotResolve("b\u00fchne"), OSCForwarderError::Code::cannotResolve,
         "Could not find OSC host \u2018b\u00fchne\u2019."},
        {OSCForwarderError::sendFailed(111), OSCForwarderError::Code::sendFailed,
         "Could not send the OSC message over UDP (errno 111)."},
        {OSCForwarderError::sendFailed(-1), OSCForwarderError::Code::sendFailed,
         "Could not send the OSC message over UDP (errno -1)."},
        {OSCForwarderError::disabled(), OSCForwarderError::Code::disabled,
         "OSC forwarding is disabled."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.code(), c.code);
        EXPECT_EQ(c.error.message(), c.text);
        EXPECT_STREQ(c.error.what(), c.text);
    }
}

TEST(OSCForwarderErrorTest, EqualityComparesCaseAndValues) {
    EXPECT_EQ(OSCForwarderError::cannotResolve("a"), OSCForwarderError::cannotResolve("a"));
    EXPECT_NE(OSCForwarderError::cannotResolve("a"), OSCForwarderError::cannotResolve("b"));
    EXPECT_NE(OSCForwarderError::sendFailed(1), OSCForwarderError::sendFailed(2));
    EXPECT_NE(OSCForwarderError::sendFailed(0), OSCForwarderError::disabled());
    EXPECT_EQ(OSCForwarderError::cannotResolve("x").host(), "x");
    EXPECT_EQ(OSCForwarderError::sendFailed(13).errorNumber(), 13);
}

} // namespace
} // namespace varnello
