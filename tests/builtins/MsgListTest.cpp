// The message list's own rules: its limit, its order columns and the records it copies.
#include <gtest/gtest.h>

#include "builtins/services/TagMsgList.h"
#include "engine/TagMapObject.h"
#include "platform/TagRunCfg.h"

namespace zz {
namespace {

TagVar Int(int32_t n) {
    TagVar v;
    v.SetInt(n);
    return v;
}

TagVar Text(const char* s) {
    TagVar v;
    v.SetStr(s);
    return v;
}

TagMsgFields Record(int32_t count, std::initializer_list<TagVar> fields, const char* key = "k") {
    TagMsgFields r;
    r.key = Text(key);
    int32_t i = 0;
    for (const TagVar& f : fields)
        r.SetField(i++, f);
    r.SetCount(count);
    return r;
}

struct Limit {
    explicit Limit(int32_t n) : old(MsgListLimit()) { SetMsgListLimit(n); }
    ~Limit() { SetMsgListLimit(old); }
    int32_t old;
};

TEST(MsgList, TheLimitIsTestedOnTheCountBeforeTheInsertion) {
    Limit two(2);
    TagMsgList l;
    TagMsgFields r = Record(0, {});
    EXPECT_EQ(l.Add(r), 1);
    EXPECT_EQ(l.Add(r), 2);
    EXPECT_EQ(l.Add(r), 3);
    EXPECT_EQ(l.Add(r), 0);
    EXPECT_EQ(l.GetNum(), 3);
    Limit none(0);
    for (int i = 0; i < 3000; ++i)
        l.Add(r);
    EXPECT_EQ(l.GetNum(), 3003);
}

TEST(MsgList, OrderColumnsSortStablyAndSurviveClear) {
    TagMsgList l;
    EXPECT_EQ(l.SetOrderBy(20, 0), -1);
    EXPECT_EQ(l.SetOrderBy(-2, 0), -1);
    EXPECT_EQ(l.Sort(), 0);
    EXPECT_EQ(l.SetOrderBy(0, 0), 0);
    int32_t arrival = 0;
    for (int32_t v : {5, 1, 5, 3})
        l.Add(Record(2, {Int(v), Int(arrival++)}));
    std::string taken;
    TagMsgFields out;
    while (l.Get(out))
        taken += std::to_string(out.Field(0).GetInt()) + "/" + std::to_string(out.Field(1).GetInt()) + " ";
    EXPECT_EQ(taken, "1/1 3/3 5/0 5/2 ");
    // descending on field 1, then a second column; the vector keeps one entry per column
    EXPECT_EQ(l.SetOrderBy(0, 1), 0);
    EXPECT_EQ(l.SetOrderBy(0, 1), 0);
    l.Add(Record(1, {Int(1)}));
    l.Add(Record(1, {Int(9)}));
    ASSERT_TRUE(l.Read(-1, g_nullVar, out));
    EXPECT_EQ(out.Field(0).GetInt(), 9);
    EXPECT_EQ(l.SetOrderBy(0, -1), 0); // removed: the list stays as it is until the next sort
    EXPECT_EQ(l.Sort(), 0);
}

TEST(MsgList, RecordsCarryTheirCountAndTakingKeepsTheRestOfTheTarget) {
    TagMsgList l;
    l.Add(Record(2, {Int(1), Int(2), Int(3)}));
    TagMsgFields work = Record(5, {Int(10), Int(20), Int(30), Int(40), Int(50)});
    TagMsgFields before = work;
    EXPECT_TRUE(l.Get(work));
    EXPECT_EQ(work.Count(), 2);
    EXPECT_EQ(work.Field(1).GetInt(), 2);
    EXPECT_EQ(work.Field(2).GetInt(), 30); // not copied: the record's third field never travelled
    EXPECT_FALSE(l.Get(work));             // empty: the target stays as it was
    EXPECT_EQ(work.Field(0).GetInt(), 1);
    TagMsgFields big = Record(25, {});
    EXPECT_EQ(big.Count(), 20);
    big.SetCount(-4);
    EXPECT_EQ(big.Count(), 0);
    EXPECT_FALSE(big.SetField(20, Int(1)));
    EXPECT_EQ(&big.Field(-1), &g_nullVar);
}

TEST(MsgList, ShortRecordsMatchNoFieldButEveryReadForColumn) {
    TagMsgList l;
    l.Add(Record(5, {Int(0), Int(0), Int(0), Int(0), Int(0)}, "short"));
    l.Add(Record(6, {Int(0), Int(0), Int(0), Int(0), Int(0), Int(7)}, "long"));
    TagMsgFields out;
    EXPECT_EQ(l.GetNumForField(5, Int(0)), 0);
    std::string text;
    EXPECT_EQ(l.ReadFor(5, Int(9), -1, text), 1); // the short record matches; the long one holds 7, not 9
    EXPECT_EQ(text, "short");
    EXPECT_EQ(l.ReadFor(-5, Int(0), 5, text), 2); // a column below -1 matches all; a missing field is empty text
    EXPECT_EQ(text, ",7");
    EXPECT_TRUE(l.GetFor2Field(-1, Text("long"), 0, 5, Int(7), out));
    EXPECT_FALSE(l.GetFor2Field(-1, Text("short"), 1, 5, Int(0), out)); // column 5 is past its count
}

TEST(MsgList, ReadForStopsAppendingBelow2047CharactersButCountsEveryMatch) {
    TagMsgList l;
    const std::string piece(1000, 'x');
    for (int i = 0; i < 4; ++i)
        l.Add(Record(1, {Text(piece.c_str())}));
    std::string text;
    EXPECT_EQ(l.ReadFor(-1, Text("k"), 0, text), 4);
    EXPECT_EQ(text, piece + "," + piece);
}

TEST(MsgList, CountMsgRaisesIntegersAndCountsNewGroups) {
    TagMsgList l;
    for (const char* v : {"a", "b", "a"})
        l.Add(Record(1, {Text(v)}));
    TagVar counts;
    counts[Text("a")] = Int(4);
    counts[Text("b")] = Text("not a count");
    EXPECT_EQ(l.CountMsg(0, counts), 1); // only "b" becomes a group; "a" held an integer already
    EXPECT_EQ(counts.Find(Text("a")).GetInt(), 6);
    EXPECT_EQ(counts.Find(Text("b")).GetInt(), 1);
    EXPECT_EQ(l.CountMsg(3, counts), 0); // no record has a field 3
    TagVar zero = Int(0);
    counts = zero;
}

TEST(MsgList, AnObjectInARecordLivesWhileARecordHoldsIt) {
    const int32_t live = g_mapObjects.Live();
    {
        TagMsgList l;
        TagVar obj;
        obj[Int(1)] = Text("payload");
        TagMsgFields r = Record(1, {obj});
        l.Add(r);
        TagVar zero = Int(0);
        obj = zero;
        r.SetField(0, zero);
        EXPECT_EQ(g_mapObjects.Live(), live + 1); // the list's copy keeps it
        TagMsgFields got;
        ASSERT_TRUE(l.Get(got));
        EXPECT_EQ(got.Field(0).Find(Int(1)).ToString(), "payload");
    }
    EXPECT_EQ(g_mapObjects.Live(), live); // given back with the last record
}

} // namespace
} // namespace zz
