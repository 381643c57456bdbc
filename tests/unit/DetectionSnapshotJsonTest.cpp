#include "core/Json.h"
#include "detection/SnapshotJson.h"
#include "support/SnapshotDecode.h"

#include <gtest/gtest.h>

using namespace parlo;

TEST(SnapshotJson, CallActivityIsCompactWithItsKeysInOrder) {
    EXPECT_EQ(encodeSnapshot(CallActivitySnapshot::idle()),
              R"({"active":false,"applications":[],"probeAvailable":true})");
    const CallActivitySnapshot call{true, {"Chromium", "Телемост"}, true};
    // Non-ASCII names stay UTF-8, not \u escapes.
    EXPECT_EQ(encodeSnapshot(call),
              "{\"active\":true,\"applications\":[\"Chromium\",\"Телемост\"],\"probeAvailable\":true}");
    EXPECT_EQ(decodeCallActivitySnapshot(encodeSnapshot(call)), call);
}

TEST(SnapshotJson, ZoomKeysAreInTheirOwnOrderNotAlphabetical) {
    const ZoomSnapshot zoom{true, false, true, 3, false};
    EXPECT_EQ(
        encodeSnapshot(zoom),
        R"({"running":true,"inputActive":false,"outputActive":true,"processCount":3,"probeAvailable":false})");
    EXPECT_EQ(decodeZoomSnapshot(encodeSnapshot(zoom)), zoom);
}

TEST(SnapshotJson, ANameThatIsNotUtf8CannotBeEncoded) {
    EXPECT_ANY_THROW(encodeSnapshot(CallActivitySnapshot{true, {std::string("bad\xff")}, true}));
}

TEST(SnapshotJson, DecodingNeedsEveryKeyWithItsType) {
    EXPECT_THROW(decodeCallActivitySnapshot(R"({"active":true,"applications":[]})"), JsonError);
    EXPECT_THROW(decodeCallActivitySnapshot(R"({"active":1,"applications":[],"probeAvailable":true})"),
                 JsonError);
    EXPECT_THROW(decodeCallActivitySnapshot(R"({"active":true,"applications":[1],"probeAvailable":true})"),
                 JsonError);
    EXPECT_THROW(decodeCallActivitySnapshot("[]"), JsonError);
    EXPECT_THROW(decodeCallActivitySnapshot("{\"active\":"), JsonError);
    EXPECT_THROW(
        decodeZoomSnapshot(R"({"running":true,"inputActive":false,"outputActive":true,"processCount":1})"),
        JsonError);
    EXPECT_THROW(
        decodeZoomSnapshot(
            R"({"running":true,"inputActive":false,"outputActive":true,"processCount":1.5,"probeAvailable":true})"),
        JsonError);
    // Key order does not matter when reading.
    EXPECT_EQ(decodeCallActivitySnapshot(R"({"probeAvailable":false,"applications":[],"active":false})"),
              (CallActivitySnapshot{false, {}, false}));
}
