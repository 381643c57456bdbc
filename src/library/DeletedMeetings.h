#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace parlo {

// The service's meetings whose recordings the user deleted on this computer. The service keeps its
// copy (it offers no way to delete one), so the synchronization would bring every such meeting back
// as a new entry; it skips the meetings listed here instead.
//
// Kept beside the library in its own file, "deleted-meetings.json": a JSON array of meeting
// identifiers, oldest first. The list is bounded: beyond kLimit the oldest deletions are forgotten
// (and their meetings, if still on the service, come back).
class DeletedMeetings {
public:
    static constexpr std::size_t kLimit = 2000;

    // root/deleted-meetings.json
    static std::filesystem::path file();

    // The stored list. A missing or unreadable file gives an empty list; entries that are not
    // meeting identifiers (32 hexadecimal characters) are ignored.
    static DeletedMeetings load();

    bool contains(std::string_view id) const;
    // Remembers `id` as the newest deletion; the oldest one goes when the list is full. Returns false,
    // and remembers nothing, when `id` is not a meeting identifier.
    bool add(const std::string& id);
    std::size_t size() const { return order_.size(); }

    // Replaces the file atomically, mode 0600. Throws PlatformError.
    void save() const;

private:
    std::deque<std::string> order_; // oldest first
    std::set<std::string, std::less<>> members_;
};

} // namespace parlo
