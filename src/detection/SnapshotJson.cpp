#include "detection/SnapshotJson.h"

#include "core/Json.h"

namespace parlo {

namespace {

void writeNames(JsonWriter& out, const std::vector<std::string>& names) {
    out.beginArray();
    for (const std::string& name : names) {
        // Names come from the sound server's clients; JSON has no form for bytes that are not UTF-8.
        if (!isValidUtf8(name))
            throw JsonError("an application name is not UTF-8");
        out.element();
        out.string(name);
    }
    out.endArray();
}

} // namespace

std::string encodeSnapshot(const CallActivitySnapshot& snapshot) {
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key("active");
    out.boolean(snapshot.active);
    out.key("applications");
    writeNames(out, snapshot.applications);
    out.key("probeAvailable");
    out.boolean(snapshot.probeAvailable);
    out.endObject();
    return json;
}

std::string encodeSnapshot(const ZoomSnapshot& snapshot) {
    std::string json;
    JsonWriter out(json);
    out.beginObject();
    out.key("running");
    out.boolean(snapshot.running);
    out.key("inputActive");
    out.boolean(snapshot.inputActive);
    out.key("outputActive");
    out.boolean(snapshot.outputActive);
    out.key("processCount");
    out.integer(snapshot.processCount);
    out.key("probeAvailable");
    out.boolean(snapshot.probeAvailable);
    out.endObject();
    return json;
}

} // namespace parlo
