#pragma once

#include "capture/CapturePermissions.h"

#include <memory>

namespace parlo {

// The sound server's answer to "may we record": see CapturePermissions.
std::shared_ptr<PermissionBackend> makePulsePermissionBackend();

} // namespace parlo
