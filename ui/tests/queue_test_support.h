// Reading the queue in tests: what is queued, without pumping native messages.
#pragma once

#include "ui/events.h"
#include "ui/ui_internal.h"

#include <cstdint>
#include <ostream>
#include <vector>

struct QueuedEvent {
    int32_t code;
    int64_t object, window, type;
    bool operator==(const QueuedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const QueuedEvent& e) {
    return out << "{code " << e.code << ", object " << e.object << ", window " << e.window
               << ", type " << e.type << "}";
}

// Takes every event queued for the calling thread, in order.
inline std::vector<QueuedEvent> DrainQueued() {
    std::vector<QueuedEvent> events;
    while (int32_t code = EventDequeue())
        events.push_back({code, EventObject(), EventWindow(), EventType()});
    return events;
}

// The codes only, for checks of order.
inline std::vector<int32_t> Codes(const std::vector<QueuedEvent>& events) {
    std::vector<int32_t> codes;
    for (const QueuedEvent& e : events) codes.push_back(e.code);
    return codes;
}

template <typename Posts> std::vector<QueuedEvent> ToEvents(const Posts& posts) {
    std::vector<QueuedEvent> events;
    for (const auto& p : posts) events.push_back({p.code, p.object, p.window, p.type});
    return events;
}

// Takes and dispatches the native messages waiting for the calling thread.
inline void DrainNative() {
    for (int i = 0; i < 100000 && EventPlatformPump(0) != 0; ++i) {}
}
