// A line's text files by handle: modes, handle order, lines, maps, binary reads and writes.
#include <gtest/gtest.h>

#include <string>

#include "LineFixture.h"
#include "builtins/TTextFileSet.h"
#include "engine/TagMapObject.h"
#include "tests/support/TestDir.h"

namespace zz {
namespace {

std::string Bytes(const TagVar& v) {
    return std::string(v.Str(), StrBytes(v));
}

TEST(TextFiles, HandlesRiseInOpenOrderAndAFailedOpenTakesNone) {
    TestDir dir("textfiles");
    TestDir::Write("a.txt", "x");
    TTextFileSet set;
    EXPECT_EQ(set.Open("a.txt", "r"), 0);
    EXPECT_EQ(set.Open("missing.txt", "r"), -1);
    EXPECT_EQ(set.Open("a.txt", "rb"), 1);
    EXPECT_EQ(set.Open("a.txt", ""), -1);   // no way to open named
    EXPECT_EQ(set.Open("a.txt", "wa"), -1); // truncate and append at once
    set.Close(0);
    EXPECT_EQ(set.Open("a.txt", "r"), 2); // never reused
    set.CloseAll();
    EXPECT_EQ(set.Count(), 0u);
}

TEST(TextFiles, AppendPlusAppendsWithoutReadingAndReadPlusReadsAndWrites) {
    TestDir dir("textfiles");
    TestDir::Write("a.txt", "abc\n");
    TTextFileSet set;
    TagVar v, s;
    int32_t h = set.Open("a.txt", "a+");
    EXPECT_EQ(set.ReadAll(h, v), 0);
    s.SetStr("def\n");
    EXPECT_EQ(set.Write(h, s), 0);
    set.Close(h);
    EXPECT_EQ(TestDir::Read("a.txt"), "abc\ndef\n");

    h = set.Open("a.txt", "r+");
    EXPECT_EQ(set.ReadLine(h, v), 3);
    EXPECT_STREQ(v.Str(), "abc");
    s.SetStr("XY");
    set.Write(h, s); // after a read: the stream is turned round first
    EXPECT_EQ(set.ReadAll(h, v), 2);
    EXPECT_EQ(Bytes(v), "f\n");
    set.Close(h);
    EXPECT_EQ(TestDir::Read("a.txt"), "abc\nXYf\n");

    h = set.Open("a.txt", "w");
    EXPECT_EQ(set.ReadLine(h, v), -1); // a write-only stream reads nothing
    set.Close(h);
    EXPECT_EQ(TestDir::Read("a.txt"), "");
}

TEST(TextFiles, LinesAreCutAtCarriageReturnAndLineFeed) {
    TestDir dir("textfiles");
    TestDir::Write("l.txt", "abc\r\n\nlast");
    TTextFileSet set;
    TagVar v;
    int32_t h = set.Open("l.txt", "r");
    EXPECT_EQ(set.ReadLine(h, v), 3);
    EXPECT_STREQ(v.Str(), "abc");
    EXPECT_EQ(set.ReadLine(h, v), 0);
    EXPECT_EQ(set.ReadLine(h, v), 4);
    EXPECT_STREQ(v.Str(), "last");
    EXPECT_EQ(set.ReadLine(h, v), -1);
    EXPECT_EQ(v.type, TagVar::kString);
    EXPECT_STREQ(v.Str(), "");
    EXPECT_EQ(set.ReadLine(99, v), -1); // a loop over an unknown handle ends
    // A line longer than 8191 bytes comes in two.
    TestDir::Write("long.txt", std::string(9000, 'x') + "\n");
    h = set.Open("long.txt", "r");
    EXPECT_EQ(set.ReadLine(h, v), 8191);
    EXPECT_EQ(set.ReadLine(h, v), 9000 - 8191);
}

TEST(TextFiles, ReadLinesNumbersFromZeroAndMapLinesKeysByTextFromOne) {
    TestDir dir("textfiles");
    TestDir::Write("m.txt", "one\r\ntwo\none\n");
    TTextFileSet set;
    TagVar arr, map, key;
    int32_t h = set.Open("m.txt", "r");
    EXPECT_EQ(set.ReadLines(h, arr), 3);
    key.SetInt(2);
    EXPECT_STREQ(arr.Find(key).Str(), "one");
    EXPECT_EQ(set.Seek(h, -8), -8);
    EXPECT_EQ(set.MapLines(h, map), 3); // two lines, plus one
    key.SetStr("two");
    EXPECT_EQ(map.Find(key).GetInt(), 1);
    key.SetStr("one");
    EXPECT_EQ(map.Find(key).GetInt(), 2);
    TagVar none;
    EXPECT_EQ(set.MapLines(42, none), 0);
    EXPECT_EQ(none.type, TagVar::kString);
    arr = TagVar();
    map = TagVar();
}

TEST(TextFiles, BytesGoInAndOutExactlyAndNumbersAsText) {
    TestDir dir("textfiles");
    TTextFileSet set;
    TagVar v, n;
    int32_t h = set.Open("b.bin", "w+b");
    v.SetStrN("a\0b", 3);
    n.SetInt(-42);
    set.Write(h, v);
    set.Write(h, n);
    set.Seek(h, -6);
    EXPECT_EQ(set.Read(h, 2, v), 2);
    EXPECT_EQ(Bytes(v), std::string("a\0", 2));
    EXPECT_EQ(set.Read(h, 100000000, v), 4); // a count far beyond the file reads what is there
    EXPECT_EQ(Bytes(v), "b-42");
    EXPECT_EQ(set.Read(h, 5, v), 0);
    EXPECT_EQ(Bytes(v), "");
    EXPECT_EQ(set.Read(7, 5, v), 0);
}

TEST(TextFiles, TheLineRecordClosesItsFilesWithTheProgram) {
    TestDir dir("textfiles");
    auto line = std::make_unique<test::LineFixture>();
    TTextFileSet& files = line->func.LineState<TextFileState>().files;
    EXPECT_EQ(&files, &line->main.LineState<TextFileState>().files);
    int32_t h = files.Open("w.txt", "w");
    TagVar s;
    s.SetStr("kept");
    files.Write(h, s);
    line.reset(); // the program goes: the file is flushed and closed
    EXPECT_EQ(TestDir::Read("w.txt"), "kept");
}

} // namespace
} // namespace zz
