#include "support/SnapshotDecode.h"

#include "core/Json.h"

#include <cstdint>
#include <initializer_list>

namespace parlo {

namespace {

// Reads one snapshot object: `onKey` consumes the values it knows and reports whether it knew the
// key; unknown keys are skipped. Every name in `required` must have been seen.
template <typename OnKey>
void readSnapshot(std::string_view text, std::initializer_list<std::string_view> required, OnKey onKey) {
    std::uint32_t seen = 0;
    const bool isObject = readJsonObject(text, [&](JsonReader& in, std::string_view key) {
        std::uint32_t bit = 1;
        for (std::string_view name : required) {
            if (name == key) {
                onKey(in, key);
                seen |= bit;
                return;
            }
            bit <<= 1;
        }
        in.skipValue();
    });
    if (!isObject)
        throw JsonError("snapshot is not a JSON object");
    if (seen != (1u << required.size()) - 1)
        throw JsonError("snapshot lacks a key");
}

} // namespace

CallActivitySnapshot decodeCallActivitySnapshot(std::string_view text) {
    CallActivitySnapshot snapshot;
    readSnapshot(text, {"active", "applications", "probeAvailable"},
                 [&](JsonReader& in, std::string_view key) {
                     if (key == "active") {
                         snapshot.active = in.readBool();
                     } else if (key == "applications") {
                         snapshot.applications.clear();
                         in.readArray([&] { snapshot.applications.push_back(in.readString()); });
                     } else {
                         snapshot.probeAvailable = in.readBool();
                     }
                 });
    return snapshot;
}

ZoomSnapshot decodeZoomSnapshot(std::string_view text) {
    ZoomSnapshot snapshot;
    readSnapshot(text, {"running", "inputActive", "outputActive", "processCount", "probeAvailable"},
                 [&](JsonReader& in, std::string_view key) {
                     if (key == "running")
                         snapshot.running = in.readBool();
                     else if (key == "inputActive")
                         snapshot.inputActive = in.readBool();
                     else if (key == "outputActive")
                         snapshot.outputActive = in.readBool();
                     else if (key == "processCount")
                         snapshot.processCount = in.readInteger();
                     else
                         snapshot.probeAvailable = in.readBool();
                 });
    return snapshot;
}

} // namespace parlo
