// Why the decoders reject bytes: each reason reached by real bytes, the
// reason cleared by the next good decode, and the one-line texts.
#include <gtest/gtest.h>

#include "Edid.h"
#include "Inventory.h"
#include "Osd.h"
#include "TestReports.h"

namespace {

Rejection EdidRejection(const unsigned char* bytes, int len)
{
    Edid edid;
    Rejection why;
    bool decoded = edid.initialise(bytes, len, &why);
    EXPECT_EQ(decoded, why.reason() == Rejection::kNone);
    EXPECT_EQ(decoded, edid.init);
    return why;
}

Rejection EdidRejection(const Bytes& block)
{
    return EdidRejection(block.data(), static_cast<int>(block.size()));
}

}  // namespace

TEST(Rejection, EdidNamesEachCheckThatFailed)
{
    Bytes good = EmptyEdid();
    EXPECT_EQ(Rejection::kNone, EdidRejection(good).reason());

    Rejection none = EdidRejection(nullptr, 128);
    EXPECT_EQ(Rejection::kNoBuffer, none.reason());
    EXPECT_EQ("too short: 0 bytes, an EDID base block needs 128", none.text());

    Rejection shortBlock = EdidRejection(good.data(), 127);
    EXPECT_EQ(Rejection::kTooShort, shortBlock.reason());
    EXPECT_EQ("too short: 127 bytes, an EDID base block needs 128", shortBlock.text());
    EXPECT_EQ(Rejection::kTooShort, EdidRejection(good.data(), -1).reason());
    EXPECT_EQ("too short: -1 bytes, an EDID base block needs 128", EdidRejection(good.data(), -1).text());

    Bytes badSum = good;
    badSum[20] += 3;
    Rejection checksum = EdidRejection(badSum);
    EXPECT_EQ(Rejection::kBadChecksum, checksum.reason());
    EXPECT_EQ("bad checksum: bytes 0-127 sum to 3 modulo 256, not 0", checksum.text());

    // A wrong header with a repaired checksum: only the header is at fault.
    Bytes badHeader = good;
    badHeader[7] = 0x01;
    Seal(badHeader);
    Rejection header = EdidRejection(badHeader);
    EXPECT_EQ(Rejection::kBadHeader, header.reason());
    EXPECT_EQ("bad header: bytes 0-7 are not 00 ff ff ff ff ff ff 00", header.text());

    // Both wrong: the checks run in order length, checksum, header.
    badHeader[127] ^= 0x01;
    EXPECT_EQ(Rejection::kBadChecksum, EdidRejection(badHeader).reason());
}

TEST(Rejection, InventoryAndOsdNameMissingAndShortBuffers)
{
    Bytes report = InventoryReport();
    Inventory inventory;
    Rejection why;
    EXPECT_FALSE(inventory.initialise(nullptr, 48, 0x04B3, 0x4676, &why));
    EXPECT_EQ(Rejection::kNoBuffer, why.reason());
    EXPECT_EQ("too short: 0 bytes, an inventory report needs 35", why.text());
    EXPECT_FALSE(inventory.initialise(reinterpret_cast<const char*>(report.data()), 34, 0x04B3, 0x4676, &why));
    EXPECT_EQ(Rejection::kTooShort, why.reason());
    EXPECT_EQ("too short: 34 bytes, an inventory report needs 35", why.text());
    // The same object reused: a good decode clears the reason.
    EXPECT_TRUE(inventory.initialise(reinterpret_cast<const char*>(report.data()), 35, 0x04B3, 0x4676, &why));
    EXPECT_EQ(Rejection::kNone, why.reason());
    EXPECT_FALSE(why.rejected());

    Bytes mode = OsdReport(4);
    Osd osd;
    EXPECT_FALSE(osd.initialise(nullptr, 24, &why));
    EXPECT_EQ(Rejection::kNoBuffer, why.reason());
    EXPECT_FALSE(osd.initialise(mode.data(), -5, &why));
    EXPECT_EQ("too short: -5 bytes, an OSD report needs 24", why.text());
    // An unknown mode still decodes (to zeroes): not a rejection.
    Bytes unknown = OsdReport(14);
    EXPECT_TRUE(osd.initialise(unknown.data(), 24, &why));
    EXPECT_EQ(Rejection::kNone, why.reason());
}

TEST(Rejection, ReasonNames)
{
    EXPECT_STREQ("none", Rejection::name(Rejection::kNone));
    EXPECT_STREQ("no buffer", Rejection::name(Rejection::kNoBuffer));
    EXPECT_STREQ("too short", Rejection::name(Rejection::kTooShort));
    EXPECT_STREQ("bad checksum", Rejection::name(Rejection::kBadChecksum));
    EXPECT_STREQ("bad header", Rejection::name(Rejection::kBadHeader));
    EXPECT_STREQ("unknown", Rejection::name(static_cast<Rejection::Reason>(99)));
    Rejection fresh;
    EXPECT_STREQ("none", fresh.name());
    EXPECT_EQ("not rejected", fresh.text());
}
