#pragma once

#include <qcoro/qcorotask.h>

namespace parlo {

struct RunSelection;

// The non-interactive check modes. Each returns the process's exit status.
int runZoomProbe();
int runCallProbe();
QCoro::Task<int> runSmokeUpload(const RunSelection& selection);

} // namespace parlo
