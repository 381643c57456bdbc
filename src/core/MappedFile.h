#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace parlo {

// A file mapped read-only. The mapping keeps the file's contents as they were when it was opened:
// a file replaced by rename (as every save does) stays readable through it for as long as the
// mapping lives, which is why it is shared by whatever keeps ranges of it.
//
// Its pages count towards the process's resident memory only while they are touched; a reader that
// goes through it once hands back what it has passed (releaseBefore), and the pages of a range are
// read in again from the page cache when somebody looks at it later.
class MappedFile {
public:
    // Nothing when the file does not exist; PlatformError for any other failure.
    static std::optional<std::shared_ptr<MappedFile>> open(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view text() const { return {data_, size_}; }
    // Lets go of the pages wholly before `offset` (they stay valid: reading them faults them back in).
    // For the one reader that goes through the file at loading; not for concurrent use.
    void releaseBefore(std::size_t offset) const;

private:
    MappedFile(const char* data, std::size_t size) : data_(data), size_(size) {}
    const char* data_;
    std::size_t size_;
    mutable std::size_t released_ = 0;
};

} // namespace parlo
