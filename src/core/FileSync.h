#pragma once

#include <filesystem>

namespace parlo {

// Making a finished file survive a power cut takes two steps on Linux: the file's data (fsync of the
// file) and its name in its folder (fsync of the folder), after a create or a rename. Both throw
// PlatformError with the system's error code.
void syncFile(const std::filesystem::path& file);
void syncFolder(const std::filesystem::path& folder);

} // namespace parlo
