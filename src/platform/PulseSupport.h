#pragma once

// Shared by the libpulse code of this folder only; includes libpulse.

#include "platform/PulseServerInfo.h"

#include <pulse/pulseaudio.h>

#include <memory>
#include <string>

namespace parlo::pulse {

struct ProplistDeleter {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};
using Proplist = std::unique_ptr<pa_proplist, ProplistDeleter>;

// Our identity on the server: call detection and the own-playback filter recognise it.
inline Proplist ownProplist(const char* mediaName = nullptr) {
    Proplist list(pa_proplist_new());
    pa_proplist_sets(list.get(), PA_PROP_APPLICATION_ID, ownApplicationId);
    pa_proplist_sets(list.get(), PA_PROP_APPLICATION_NAME, ownApplicationName);
    if (mediaName)
        pa_proplist_sets(list.get(), PA_PROP_MEDIA_NAME, mediaName);
    return list;
}

inline std::string contextError(pa_context* context) {
    return pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN);
}

} // namespace parlo::pulse
