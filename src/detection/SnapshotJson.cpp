#include "detection/SnapshotJson.h"

#include "core/ParloError.h"

#include <nlohmann/json.hpp>

namespace parlo {

namespace {

using Json = nlohmann::ordered_json;

Json parseObject(std::string_view text) {
    Json json = Json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object())
        throw PlatformError(std::string("snapshot is not a JSON object"));
    return json;
}

const Json& member(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end())
        throw PlatformError(std::string("snapshot has no key \"") + key + "\"");
    return *found;
}

bool booleanMember(const Json& object, const char* key) {
    const Json& value = member(object, key);
    if (!value.is_boolean())
        throw PlatformError(std::string("snapshot key \"") + key + "\" is not a boolean");
    return value.get<bool>();
}

} // namespace

std::string encodeSnapshot(const CallActivitySnapshot& snapshot) {
    Json json = Json::object();
    json["active"] = snapshot.active;
    json["applications"] = snapshot.applications;
    json["probeAvailable"] = snapshot.probeAvailable;
    return json.dump();
}

std::string encodeSnapshot(const ZoomSnapshot& snapshot) {
    Json json = Json::object();
    json["running"] = snapshot.running;
    json["inputActive"] = snapshot.inputActive;
    json["outputActive"] = snapshot.outputActive;
    json["processCount"] = snapshot.processCount;
    json["probeAvailable"] = snapshot.probeAvailable;
    return json.dump();
}

CallActivitySnapshot decodeCallActivitySnapshot(std::string_view text) {
    const Json json = parseObject(text);
    CallActivitySnapshot snapshot;
    snapshot.active = booleanMember(json, "active");
    const Json& applications = member(json, "applications");
    if (!applications.is_array())
        throw PlatformError(std::string("snapshot key \"applications\" is not an array"));
    for (const Json& name : applications) {
        if (!name.is_string())
            throw PlatformError(std::string("snapshot key \"applications\" holds a non-string"));
        snapshot.applications.push_back(name.get<std::string>());
    }
    snapshot.probeAvailable = booleanMember(json, "probeAvailable");
    return snapshot;
}

ZoomSnapshot decodeZoomSnapshot(std::string_view text) {
    const Json json = parseObject(text);
    ZoomSnapshot snapshot;
    snapshot.running = booleanMember(json, "running");
    snapshot.inputActive = booleanMember(json, "inputActive");
    snapshot.outputActive = booleanMember(json, "outputActive");
    const Json& count = member(json, "processCount");
    if (!count.is_number_integer())
        throw PlatformError(std::string("snapshot key \"processCount\" is not an integer"));
    snapshot.processCount = count.get<std::int64_t>();
    snapshot.probeAvailable = booleanMember(json, "probeAvailable");
    return snapshot;
}

} // namespace parlo
