// Reading the queue in tests: what is queued, without pumping native messages.
#pragma once

#include "ui/events.h"
#include "ui/ui_internal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <thread>
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

// Keeps a test that waits without a timeout from hanging the run: once seconds have passed
// it marks the test as timed out and keeps waking the main thread until it is destroyed, so
// a wait loop that checks TimedOut() ends.
class WaitGuard {
  public:
    explicit WaitGuard(int seconds)
        : thread_([this, seconds] {
              std::unique_lock lock(lock_);
              if (done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stop_; }))
                  return;
              timedOut_ = true;
              while (
                  !done_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; }))
                  EventQueueWake();
          }) {}
    ~WaitGuard() {
        {
            std::lock_guard guard(lock_);
            stop_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    bool TimedOut() const { return timedOut_; }

  private:
    std::mutex lock_;
    std::condition_variable done_;
    bool stop_ = false;
    std::atomic<bool> timedOut_{false};
    std::thread thread_;
};
