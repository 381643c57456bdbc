// libFuzzer target: every reader of outside JSON gets the same bytes (the library file, one meeting,
// the meeting list, probe snapshots). Each must either decode or fail with JsonError; anything else
// (a crash, a sanitizer report, another exception) is a finding. What decodes must survive its own
// encoding unchanged, so the writer and the reader agree on every value the reader lets in.
#include "core/Json.h"
#include "detection/SnapshotJson.h"
#include "library/LocalRecording.h"
#include "library/MeetingResult.h"
#include "support/SnapshotDecode.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace parlo;

void require(bool condition) {
    if (!condition)
        std::abort();
}

template <typename Decode> void tryDecoding(Decode decode) {
    try {
        decode();
    } catch (const JsonError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    tryDecoding([&] {
        std::vector<std::string> rejected;
        const std::vector<LocalRecording> items = decodeLibrary(text, &rejected);
        for (const LocalRecording& item : items) {
            require(!item.folderName || isPlainFileName(*item.folderName));
            require(!item.fileName || isPlainFileName(*item.fileName));
            require(!item.remoteID || isMeetingID(*item.remoteID));
            if (item.result)
                (void)item.result->value(); // validated text must decode
        }
        require(decodeLibrary(encodeLibrary(items)) == items);
        for (const std::string& record : rejected)
            require(decodeLibrary("[" + record + "]").empty());
    });
    tryDecoding([&] {
        const ServerMeeting meeting = decodeServerMeeting(text);
        require(decodeServerMeeting(encodeServerMeeting(meeting)) == meeting);
    });
    tryDecoding([&] { (void)decodeServerMeetingList(text); });
    tryDecoding([&] {
        const CallActivitySnapshot snapshot = decodeCallActivitySnapshot(text);
        std::string encoded;
        try {
            encoded = encodeSnapshot(snapshot);
        } catch (const JsonError&) {
            return; // a name that is not UTF-8 has no JSON form
        }
        require(decodeCallActivitySnapshot(encoded) == snapshot);
    });
    tryDecoding([&] {
        const ZoomSnapshot snapshot = decodeZoomSnapshot(text);
        require(decodeZoomSnapshot(encodeSnapshot(snapshot)) == snapshot);
    });
    return 0;
}
