// Entry and iterator handles: what an iterator hands out, when a
// notification's iterator is armed, and what release does.
#include "platform/registry/handles.h"

#include <gtest/gtest.h>

namespace {

using namespace vexa::registry;

RecordPtr record(const std::string& path) { return std::make_shared<const ObjectRecord>(ObjectRecord{":1.1", path, {}}); }

TEST(Handles, AnIteratorHandsOutEachEntryOnceThenZero) {
    HandleTable table;
    std::vector<Handle> released;
    const Handle it = table.addIterator({record("/a"), record("/b")}, [&](Handle h) { released.push_back(h); });
    const Handle a = table.next(it), b = table.next(it);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_NE(a, it);
    EXPECT_EQ(table.entry(a)->path, "/a");
    EXPECT_EQ(table.entry(b)->path, "/b");
    EXPECT_EQ(table.next(it), 0u);
    EXPECT_EQ(table.next(a), 0u) << "an entry is no iterator";
    EXPECT_EQ(table.entry(it), nullptr) << "an iterator is no entry";
    EXPECT_TRUE(table.release(a));
    EXPECT_FALSE(table.release(a));
    EXPECT_EQ(table.entry(a), nullptr);
    EXPECT_TRUE(table.release(it));
    EXPECT_EQ(released, std::vector<Handle>{it});
    EXPECT_FALSE(table.release(0));
    EXPECT_EQ(table.size(), 1u) << "only b is still held";
}

TEST(Handles, OnlyADrainedIteratorAsksForItsCallback) {
    HandleTable table;
    const Handle it = table.addIterator({record("/present")});
    // Not drained yet: new entries queue up silently.
    EXPECT_FALSE(table.queue(it, record("/x")));
    EXPECT_NE(table.next(it), 0u);
    EXPECT_NE(table.next(it), 0u);
    EXPECT_EQ(table.next(it), 0u);  // drained: armed
    EXPECT_TRUE(table.queue(it, record("/y"))) << "armed: a callback is due";
    EXPECT_FALSE(table.queue(it, record("/z"))) << "one callback until drained again";
    EXPECT_EQ(table.entry(table.next(it))->path, "/y");
    EXPECT_EQ(table.entry(table.next(it))->path, "/z");
    EXPECT_EQ(table.next(it), 0u);
    EXPECT_TRUE(table.queue(it, record("/w")));
    EXPECT_FALSE(table.queue(12345, record("/v"))) << "no such iterator";
}

TEST(Handles, ReleasedNumbersAreNotReusedAtOnce) {
    HandleTable table;
    const Handle first = table.addEntry(record("/a"));
    table.release(first);
    const Handle second = table.addEntry(record("/b"));
    EXPECT_NE(second, first);
    EXPECT_NE(second, 0u);
}

}  // namespace
