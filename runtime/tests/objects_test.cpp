#include "runtime/objects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// A tiny library over one table, written the way every runtime library is: records whose
// first word is the native handle, a free operation that is also the release procedure.
struct Widget {
    int64_t handle;
    int64_t payload;
};

ObjectTable* gTable = nullptr;
std::vector<int64_t> gReleased;

void WidgetFree(int64_t number) {
    if (number == AnyNumber) {
        ObjectReleaseAll(gTable);
        return;
    }
    if (!ObjectGet(gTable, number)) return;
    gReleased.push_back(number);
    ObjectRelease(gTable, number);
}

int64_t WidgetCreate(int64_t number, int64_t payload) {
    auto* w = static_cast<Widget*>(ObjectAllocate(gTable, number));
    if (!w) return 0;
    w->handle = 0x1234;
    w->payload = payload;
    return number == AnyNumber ? ObjectDynamicId(w) : w->handle;
}

class ObjectTableTest : public testing::Test {
  protected:
    void SetUp() override {
        gTable = ObjectTableCreate(sizeof(Widget), 16, WidgetFree);
        gReleased.clear();
    }
};

TEST_F(ObjectTableTest, NumberedObjectsGrowReuseAndRelease) {
    ASSERT_NE(WidgetCreate(5, 50), 0);
    ASSERT_NE(WidgetCreate(20, 200), 0); // beyond the 16 initial slots: grows
    EXPECT_EQ(static_cast<Widget*>(ObjectGet(gTable, 5))->payload, 50);
    EXPECT_EQ(static_cast<Widget*>(ObjectGet(gTable, 20))->payload, 200);
    EXPECT_EQ(ObjectGet(gTable, 6), nullptr);

    // Re-creating a number releases the old object first and hands back the same, zeroed,
    // block.
    void* before = ObjectGet(gTable, 5);
    auto* again = static_cast<Widget*>(ObjectAllocate(gTable, 5));
    EXPECT_EQ(gReleased, std::vector<int64_t>{5});
    EXPECT_EQ(again, before);
    EXPECT_EQ(again->payload, 0);
    EXPECT_EQ(ObjectGet(gTable, 5), nullptr) << "not live until its handle is set";

    WidgetFree(20);
    EXPECT_EQ(ObjectGet(gTable, 20), nullptr);
    WidgetFree(20); // freeing twice is harmless
    EXPECT_EQ(gReleased, (std::vector<int64_t>{5, 20}));
}

TEST_F(ObjectTableTest, RejectsNumbersItCannotHold) {
    EXPECT_EQ(ObjectAllocate(gTable, -2), nullptr);
    EXPECT_EQ(ObjectAllocate(gTable, ObjectNumberLimit + 1), nullptr);
    EXPECT_EQ(ObjectAllocate(nullptr, 0), nullptr);
    EXPECT_EQ(ObjectGet(nullptr, 0), nullptr);
}

TEST_F(ObjectTableTest, DynamicIdentifiersAreValidated) {
    int64_t a = WidgetCreate(AnyNumber, 1);
    int64_t b = WidgetCreate(AnyNumber, 2);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    EXPECT_EQ(static_cast<Widget*>(ObjectGet(gTable, a))->payload, 1);
    EXPECT_EQ(static_cast<Widget*>(ObjectFind(gTable, b))->payload, 2);

    // Wrong numbers of every kind yield null instead of being dereferenced.
    Widget onStack{};
    for (int64_t wrong : {int64_t{-2}, int64_t{16}, int64_t{1} << 40, a + 8, a - 16,
                          ObjectDynamicId(&onStack), INT64_MIN, INT64_MAX}) {
        EXPECT_EQ(ObjectGet(gTable, wrong), nullptr) << wrong;
        EXPECT_EQ(ObjectFind(gTable, wrong), nullptr) << wrong;
        ObjectRelease(gTable, wrong); // must not touch anything
    }
    // Another table's identifier is not ours.
    ObjectTable* other = ObjectTableCreate(16, 4, nullptr);
    int64_t foreign = ObjectDynamicId(ObjectAllocate(other, AnyNumber));
    EXPECT_EQ(ObjectFind(gTable, foreign), nullptr);

    WidgetFree(a);
    EXPECT_EQ(ObjectGet(gTable, a), nullptr) << "a freed identifier is dead";
    EXPECT_NE(ObjectGet(gTable, b), nullptr);
    // A dynamic record exists for ObjectFind even before it is filled.
    void* blank = ObjectAllocate(gTable, AnyNumber);
    EXPECT_EQ(ObjectGet(gTable, ObjectDynamicId(blank)), nullptr);
    EXPECT_EQ(ObjectFind(gTable, ObjectDynamicId(blank)), blank);
}

TEST_F(ObjectTableTest, ReleaseAllGoesInNumberOrderThenDynamic) {
    WidgetCreate(3, 0);
    WidgetCreate(0, 0);
    int64_t d1 = WidgetCreate(AnyNumber, 0);
    int64_t d2 = WidgetCreate(AnyNumber, 0);
    ObjectAllocate(gTable, AnyNumber); // never filled: must not stall the walk
    WidgetFree(AnyNumber);
    EXPECT_EQ(gReleased, (std::vector<int64_t>{0, 3, d2, d1}));
    int64_t number;
    ObjectEnumerateStart(gTable);
    EXPECT_EQ(ObjectEnumerateNext(gTable, &number), nullptr) << "nothing is left";
    // The numbered blocks stay for reuse; a new object under 3 works at once.
    EXPECT_NE(WidgetCreate(3, 9), 0);
}

TEST_F(ObjectTableTest, EnumerationReportsLiveRecordsInOrder) {
    WidgetCreate(7, 70);
    WidgetCreate(2, 20);
    ObjectAllocate(gTable, 4); // allocated but not live: skipped
    int64_t d = WidgetCreate(AnyNumber, 99);
    std::vector<int64_t> seen;
    int64_t number;
    ObjectEnumerateStart(gTable);
    while (ObjectEnumerateNext(gTable, &number)) seen.push_back(number);
    EXPECT_EQ(seen, (std::vector<int64_t>{2, 7, d}));
    // The lock is free again: another thread can use the table.
    std::thread([] { EXPECT_NE(WidgetCreate(1, 1), 0); }).join();
}

TEST(ObjectTableConcurrency, ThreadsShareOneTable) {
    ObjectTable* table = ObjectTableCreate(16, 8, nullptr);
    std::atomic<int> failures{0};
    auto work = [&](int seed) {
        for (int i = 0; i < 2000; ++i) {
            auto* record = static_cast<int64_t*>(ObjectAllocate(table, AnyNumber));
            record[0] = 1;
            record[1] = seed;
            int64_t id = ObjectDynamicId(record);
            auto* found = static_cast<int64_t*>(ObjectGet(table, id));
            if (!found || found[1] != seed) ++failures;
            auto* numbered = static_cast<int64_t*>(ObjectAllocate(table, seed * 100 + i % 50));
            numbered[0] = 1;
            ObjectRelease(table, id);
        }
    };
    std::thread t1(work, 1), t2(work, 2);
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace

namespace {

// A record of an odd size: every byte of it is written, so a table that gave out fewer
// bytes than the type needs shows under the address sanitizer.
struct OddRecord {
    int64_t handle;
    char text[37];
};

ObjectTableOf<OddRecord> gOdd;

void OddFree(int64_t number) {
    if (number == AnyNumber)
        gOdd.ReleaseAll();
    else
        gOdd.Release(number);
}

TEST(ObjectTableOf, RecordsAreAsLargeAsTheirTypeForNumbersAndIdentifiers) {
    ASSERT_TRUE(gOdd.Create(4, OddFree));
    ObjectTable* table = gOdd.Table();
    ASSERT_TRUE(gOdd.Create(4, OddFree));
    EXPECT_EQ(gOdd.Table(), table) << "a second Create keeps the table";
    for (int64_t number : {int64_t{0}, int64_t{9}, AnyNumber}) {
        OddRecord* record = gOdd.Allocate(number);
        ASSERT_NE(record, nullptr);
        std::memset(record, 0x5A, sizeof *record);
        int64_t id = number == AnyNumber ? ObjectDynamicId(record) : number;
        EXPECT_EQ(gOdd.Get(id), record);
        EXPECT_EQ(gOdd.Find(id), record);
    }
    int count = 0;
    gOdd.EnumerateStart();
    while (OddRecord* record = gOdd.EnumerateNext()) count += record->text[36] == 0x5A;
    EXPECT_EQ(count, 3);
    gOdd.ReleaseAll();
    EXPECT_EQ(gOdd.Get(0), nullptr);
}

} // namespace
