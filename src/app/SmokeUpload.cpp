#include "app/CheckModes.h"

#include <cstdio>

namespace parlo {

// The service client is not part of this build yet.
QCoro::Task<int> runSmokeUpload(const RunSelection&) {
    std::fputs("Native smoke failed: this build has no service client yet\n", stderr);
    co_return 1;
}

} // namespace parlo
