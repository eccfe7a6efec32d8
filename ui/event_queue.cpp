// The portable half of the event queue: records, per-thread queues, merging and removal.
#include "events.h"
#include "ui_internal.h"

#include "runtime/heap.h"
#include "runtime/lock.h"
#include "runtime/threads.h"

namespace {

struct EventRecord {
    EventRecord* next;
    int32_t code;
    int64_t object;
    int64_t window;
    int64_t type;
};

// Records come from blocks of this many and are recycled through a free list, so appending
// and dequeuing allocate nothing once a queue has reached its working size.
constexpr int kRecordsPerBlock = 64;

struct RecordBlock {
    RecordBlock* next;
    EventRecord records[kRecordsPerBlock];
};

struct RecordPool {
    EventRecord* free;
    RecordBlock* blocks;
};

struct EventState {
    RecordPool pool;
    EventRecord* head;
    EventRecord* tail;
    int32_t currentCode;
    int64_t currentWindow;
    int64_t currentObject;
    int64_t currentType;
};

// One lock for every queue: other threads append to the main thread's queue.
Lock gQueueLock;

// The main thread's state is a global so that any thread can reach it; every other thread's
// lives in its per-thread block.
EventState gMainState;
uint64_t gMainThread = 0;
bool gStarted = false;
int64_t gStateBlock = -1;

EventRecord* TakeRecord(RecordPool& pool) {
    if (!pool.free) {
        auto* block = static_cast<RecordBlock*>(RuntimeAllocate(sizeof(RecordBlock)));
        if (!block) return nullptr;
        block->next = pool.blocks;
        pool.blocks = block;
        for (EventRecord& record : block->records) {
            record.next = pool.free;
            pool.free = &record;
        }
    }
    EventRecord* record = pool.free;
    pool.free = record->next;
    return record;
}

void GiveBack(RecordPool& pool, EventRecord* record) {
    record->next = pool.free;
    pool.free = record;
}

void FreePool(RecordPool& pool) {
    while (RecordBlock* block = pool.blocks) {
        pool.blocks = block->next;
        RuntimeFree(block);
    }
    pool.free = nullptr;
}

void InitState(void* block) {
    *static_cast<EventState*>(block) = EventState{};
}

void CleanupState(void* block) {
    // The thread has ended: nobody can reach its queue any more.
    FreePool(static_cast<EventState*>(block)->pool);
}

EventState* CurrentState() {
    if (!gStarted || ThreadCurrentId() == gMainThread) return &gMainState;
    if (gStateBlock < 0) return nullptr; // no per-thread storage: other threads have no queue
    return static_cast<EventState*>(ThreadLocalGet(gStateBlock));
}

void Append(EventState& state, int32_t code, int64_t object, int64_t window, int64_t type,
            bool merge) {
    LockGuard guard(gQueueLock);
    EventRecord* tail = state.tail;
    if (merge && tail && code < EV_FIRST_UNMERGED && tail->code == code && tail->object == object &&
        tail->window == window && tail->type == type)
        return;
    EventRecord* record = TakeRecord(state.pool);
    if (!record) return; // out of memory: the event is lost, nothing else is harmed
    *record = EventRecord{nullptr, code, object, window, type};
    if (tail)
        tail->next = record;
    else
        state.head = record;
    state.tail = record;
}

template <typename Match> void Remove(EventState& state, Match match) {
    LockGuard guard(gQueueLock);
    EventRecord* kept = nullptr;
    EventRecord* record = state.head;
    while (record) {
        EventRecord* next = record->next;
        if (match(*record)) {
            if (kept)
                kept->next = next;
            else
                state.head = next;
            GiveBack(state.pool, record);
        } else {
            kept = record;
        }
        record = next;
    }
    state.tail = kept;
}

} // namespace

void EventQueueInit() {
    if (gStarted) return;
    gMainThread = ThreadCurrentId();
    gStateBlock = ThreadLocalRegister(sizeof(EventState), InitState, CleanupState);
    EventPlatformInit();
    gStarted = true;
}

void EventQueueShutdown() {
    EventPlatformShutdown();
}

int32_t QueueEvent(int32_t code, int64_t window, int64_t object, int64_t type) {
    Append(gMainState, code, object, window, type, false);
    EventPlatformWake();
    return 0;
}

void PostWindowEvent(int32_t code, int64_t object, int64_t window, int64_t type) {
    if (EventState* state = CurrentState()) Append(*state, code, object, window, type, true);
}

int32_t EventDequeue() {
    EventState* state = CurrentState();
    if (!state) return 0;
    state->currentCode = 0;
    LockGuard guard(gQueueLock);
    state->currentType = -1;
    if (EventRecord* record = state->head) {
        state->currentCode = record->code;
        state->currentObject = record->object;
        state->currentWindow = record->window;
        state->currentType = record->type;
        state->head = record->next;
        if (!state->head) state->tail = nullptr;
        GiveBack(state->pool, record);
    }
    return state->currentCode;
}

int64_t WaitEvent(int32_t timeoutMs) {
    if (int32_t code = EventDequeue()) return code;
    return EventPlatformPump(timeoutMs);
}

int64_t EventType() {
    EventState* state = CurrentState();
    return state ? state->currentType : -1;
}

int64_t EventObject() {
    EventState* state = CurrentState();
    return state ? state->currentObject : 0;
}

int64_t EventWindow() {
    EventState* state = CurrentState();
    return state ? state->currentWindow : 0;
}

void RemoveWindowEvents(int64_t window) {
    if (EventState* state = CurrentState())
        Remove(*state, [window](const EventRecord& r) { return r.window == window; });
}

void RemoveMatchingEvents(int32_t code, int64_t object, int64_t window, int64_t type) {
    EventState* state = CurrentState();
    if (!state) return;
    Remove(*state, [=](const EventRecord& r) {
        return (code == -1 || r.code == code) && (object == -1 || r.object == object) &&
               (window == -1 || r.window == window) && (type == -1 || r.type == type);
    });
}
