#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "DataTestUtil.h"
#include "data/TagDbfData.h"
#include "platform/Gbk.h"
#include "platform/SysTime.h"

using namespace zz;
using zztest::DataDir;

namespace {

// A table written by the peer's side: fields NAME C 10, AGE N 3, NOTE C 20.
std::string MakeTable(const DataDir& d, const std::string& name, const std::string& recordsJson) {
    std::string layout = "{\"fields\": [[\"NAME\",\"C\",10,0],[\"AGE\",\"N\",3,0],[\"NOTE\",\"C\",20,0]], "
                         "\"records\": " +
                         recordsJson + "}";
    DataDir::Write(d.File("layout.json"), GbkToUtf8(layout));
    int rc = -1;
    zztest::RunCommand(zztest::DbfTool() + " make " + d.File(name) + " @" + d.File("layout.json"), &rc);
    EXPECT_EQ(rc, 0);
    return d.File(name);
}

std::string ReadByPeer(const std::string& path) {
    return Utf8ToGbk(zztest::RunCommand(zztest::DbfTool() + " read " + path));
}

std::string Get(TagDataSet& ds, int col, int row) {
    char buf[kDbValueSize];
    ds.GetVar(buf, col, row);
    return buf;
}

void Patch(const std::string& path, size_t off, const std::string& bytes) {
    std::string s = DataDir::Read(path);
    s.replace(off, bytes.size(), bytes);
    DataDir::Write(path, s);
}

} // namespace

TEST(DbfData, ReadsTableWrittenByPeer) {
    DataDir d("dbfread");
    std::string path = MakeTable(d, "t.dbf", "[[\"张三\",\"42\",\"备注一\"],[\"bob\",\"7\",\"\"]]");
    TagDbfData db(path.c_str());
    ASSERT_EQ(db.status, 0);
    EXPECT_EQ(db.GetRows(), 2);
    EXPECT_EQ(db.GetCols(), 3);
    char buf[kDbValueSize];
    EXPECT_EQ(db.GetFieldName(2, buf), 2);
    EXPECT_STREQ(buf, "NOTE");
    EXPECT_EQ(db.GetFieldName(3, buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(Get(db, 0, 1), "张三      ");
    EXPECT_EQ(Get(db, 1, 1), "42 ");
    EXPECT_EQ(Get(db, 2, 1), "备注一              ");
    EXPECT_EQ(Get(db, 0, 2), "bob       ");
    // Columns and rows outside the table leave the buffer empty.
    EXPECT_EQ(db.GetVar(buf, -1, 1), -1);
    EXPECT_EQ(db.GetVar(buf, 3, 1), -1);
    EXPECT_EQ(db.GetVar(buf, 0, 3), -2);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(db.GetVar(buf, 0, 0), -2);
}

TEST(DbfData, FieldIndexIgnoresCaseButNamedReadsDoNot) {
    DataDir d("dbfname");
    std::string path = MakeTable(d, "t.dbf", "[[\"a\",\"1\",\"x\"]]");
    TagDbfData db(path.c_str());
    char buf[kDbValueSize];
    EXPECT_EQ(db.GetFieldIndex("name"), 0);
    EXPECT_EQ(db.GetFieldIndex("note"), 2);
    EXPECT_EQ(db.GetFieldIndex("nothing"), -1);
    EXPECT_EQ(db.GetVarByName(buf, "name", 1), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(db.GetVarByName(buf, "AGE", 1), 1);
    EXPECT_STREQ(buf, "1  ");
    EXPECT_EQ(db.GetVarByName(buf, "AGE", 2), -2);
}

TEST(DbfData, EmptyTableAndZeroBytes) {
    DataDir d("dbfempty");
    std::string path = MakeTable(d, "t.dbf", "[]");
    TagDbfData db(path.c_str());
    ASSERT_EQ(db.status, 0);
    EXPECT_EQ(db.GetRows(), 0);
    char buf[kDbValueSize];
    EXPECT_EQ(db.GetVar(buf, 0, 1), -2);

    std::string p2 = MakeTable(d, "z.dbf", "[[\"ab\",\"1\",\"\"]]");
    // Zero bytes inside a stored value read as blanks.
    Patch(p2, 32 * 4 + 1 + 1 + 2, std::string("\0\0c", 3));
    TagDbfData z(p2.c_str());
    EXPECT_EQ(Get(z, 0, 1), "ab  c     ");
}

TEST(DbfData, ValuesAreRightAlignedAndLongValuesRefused) {
    DataDir d("dbfset");
    std::string path = MakeTable(d, "t.dbf", "[[\"a\",\"1\",\"x\"]]");
    TagDbfData db(path.c_str());
    EXPECT_EQ(db.SetVarByName("abc", "NAME", 1), 1);
    EXPECT_EQ(Get(db, 0, 1), "       abc");
    // Longer than the field: the first characters are kept, a double-byte character is never split.
    EXPECT_EQ(db.SetVar("12345", 1, 1), 1);
    EXPECT_EQ(Get(db, 1, 1), "123");
    EXPECT_EQ(db.SetVarByName("一二三四五六七八九十壹", "NOTE", 1), 1);
    EXPECT_EQ(Get(db, 2, 1), "一二三四五六七八九十");
    EXPECT_EQ(db.SetVarByName("甲乙x", "AGE", 1), 1);
    EXPECT_EQ(Get(db, 1, 1), " 甲");

    std::string before = DataDir::Read(path);
    EXPECT_EQ(db.SetVarByName(std::string(1001, 'x').c_str(), "NOTE", 1), -1);
    EXPECT_EQ(db.SetVarByName("x", "note", 1), -1); // names are matched exactly
    EXPECT_EQ(db.SetVarByName("x", "NOTE", 2), -2);
    EXPECT_EQ(db.SetVarByName("x", "NOTE", 0), -2);
    EXPECT_EQ(db.SetVar("x", 3, 1), -1);
    EXPECT_EQ(DataDir::Read(path), before);
    EXPECT_EQ(db.SetVarByName(std::string(1000, 'x').c_str(), "NOTE", 1), 1);
}

TEST(DbfData, AppendWritesRecordEndMarkCountAndDate) {
    DataDir d("dbfappend");
    std::string recs = "[";
    for (int i = 0; i < 10; i++)
        recs += std::string(i ? "," : "") + "[\"n" + std::to_string(i) + "\",\"1\",\"\"]";
    std::string path = MakeTable(d, "t.dbf", recs + "]");
    Patch(path, 1, std::string("\x50\x01\x01", 3)); // an old date
    TagDbfData db(path.c_str());
    EXPECT_EQ(db.GetRows(), 10);
    EXPECT_EQ(db.SetVarByName("new", "NAME", -1), 11);
    EXPECT_EQ(db.GetRows(), 11);
    std::string file = DataDir::Read(path);
    const size_t headerLen = 32 * 4 + 1, recordLen = 34;
    ASSERT_EQ(file.size(), headerLen + 11 * recordLen + 1);
    EXPECT_EQ(file.back(), '\x1a');
    EXPECT_EQ((unsigned char)file[4], 11);
    LocalTime now = GetLocalTime();
    EXPECT_EQ((unsigned char)file[1], now.year - 1900);
    EXPECT_EQ((unsigned char)file[2], now.month);
    EXPECT_EQ((unsigned char)file[3], now.day);
    // No record was read since opening: the appended record is blanks with the one field set.
    EXPECT_EQ(Get(db, 0, 11), "       new");
    EXPECT_EQ(Get(db, 2, 11), std::string(20, ' '));
}

TEST(DbfData, PeerReadsWhatTheSystemWrote) {
    DataDir d("dbfpeer");
    std::string path = MakeTable(d, "t.dbf", "[]");
    TagDbfData db(path.c_str());
    // A new record built by one append and replacements of the row it returns.
    int row = db.SetVarByName("王五", "NAME", -1);
    ASSERT_EQ(row, 1);
    EXPECT_EQ(db.SetVarByName("35", "AGE", row), 1);
    EXPECT_EQ(db.SetVarByName("电话 12345", "NOTE", row), 1);
    EXPECT_EQ(db.SetVarByName("alice", "NAME", -1), 2);
    std::string out = ReadByPeer(path);
    EXPECT_NE(out.find("field NAME C 10\nfield AGE N 3\nfield NOTE C 20\n"), std::string::npos) << out;
    EXPECT_NE(out.find("record       王五| 35|          电话 12345\n"), std::string::npos) << out;
    // The second append copies the record buffer as it stands, with the one field changed.
    EXPECT_NE(out.find("record      alice| 35|          电话 12345\n"), std::string::npos) << out;
    LocalTime now = GetLocalTime();
    char date[32];
    snprintf(date, sizeof date, "date %04d-%02d-%02d", now.year, now.month, now.day);
    EXPECT_EQ(out.rfind(date, 0), 0u) << out;
}

TEST(DbfData, DamagedFilesAreRefused) {
    DataDir d("dbfbad");
    std::string good = DataDir::Read(MakeTable(d, "good.dbf", "[[\"a\",\"1\",\"x\"]]"));
    auto opens = [&](const std::string& bytes) {
        DataDir::Write(d.File("bad.dbf"), bytes);
        TagDbfData db(d.File("bad.dbf").c_str());
        return db.status;
    };
    EXPECT_EQ(opens(good), 0);
    std::string s = good;
    s[0] = 0x30; // a version this reader does not know
    EXPECT_EQ(opens(s), -7);
    EXPECT_EQ(opens(good.substr(0, 20)), -5);
    EXPECT_EQ(TagDbfData(d.File("missing.dbf").c_str()).status, -5);
    s = good;
    s[8] = '\xff'; // header length far beyond the file: descriptors cannot be read
    s[9] = '\x7f';
    EXPECT_EQ(opens(s), -7);
    s = good;
    s[32 + 32 + 16] = char(200); // AGE 200 bytes wide: fields no longer fit the record
    EXPECT_EQ(opens(s), -7);
    s = good;
    s[10] = 5; // record length shorter than the fields
    s[11] = 0;
    EXPECT_EQ(opens(s), -7);
    s = good;
    s[32] = 0; // a field without a name
    EXPECT_EQ(opens(s), -7);
    s = good;
    s[33] = '\x01'; // a control character in a name
    EXPECT_EQ(opens(s), -7);
    s = good;
    s[8] = 20; // header shorter than one descriptor
    s[9] = 0;
    EXPECT_EQ(opens(s), -7);
    // An eleven-character name without its terminator is cut at eleven characters.
    s = good;
    memcpy(&s[32], "ABCDEFGHIJK", 11);
    DataDir::Write(d.File("long.dbf"), s);
    TagDbfData db(d.File("long.dbf").c_str());
    ASSERT_EQ(db.status, 0);
    char buf[kDbValueSize];
    db.GetFieldName(0, buf);
    EXPECT_STREQ(buf, "ABCDEFGHIJK");
}

TEST(DbfData, HeaderChangedUnderneathIsNotFollowed) {
    DataDir d("dbfchanged");
    std::string path = MakeTable(d, "t.dbf", "[[\"a\",\"1\",\"x\"]]");
    TagDbfData db(path.c_str());
    ASSERT_EQ(db.status, 0);
    Patch(path, 10, std::string("\xff\x00", 2)); // another program now claims 255-byte records
    EXPECT_EQ(db.GetRows(), -2);
    char buf[kDbValueSize];
    EXPECT_EQ(db.GetVar(buf, 0, 1), -2);
    EXPECT_LT(db.SetVarByName("x", "NAME", -1), 0);
}

TEST(DbfData, ConcurrentAppendsFromManyHandlesLoseNothing) {
    DataDir d("dbfconc");
    std::string path = MakeTable(d, "t.dbf", "[]");
    constexpr int kThreads = 8, kEach = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            TagDbfData db(path.c_str());
            for (int i = 0; i < kEach; i++) {
                std::string v = std::to_string(t * 1000 + i);
                if (db.SetVarByName(v.c_str(), "NAME", -1) <= 0) failures++;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    TagDbfData db(path.c_str());
    ASSERT_EQ(db.GetRows(), kThreads * kEach);
    std::set<std::string> seen;
    for (int r = 1; r <= kThreads * kEach; r++) {
        std::string v = Get(db, 0, r);
        seen.insert(v.substr(v.find_first_not_of(' ')));
    }
    EXPECT_EQ(int(seen.size()), kThreads * kEach);
    std::string out = ReadByPeer(path);
    size_t records = 0;
    for (size_t p = 0; (p = out.find("\nrecord ", p)) != std::string::npos; p++)
        records++;
    EXPECT_EQ(records, size_t(kThreads * kEach));
}

TEST(DbfData, ExecReopensAndBackslashPathsAreMapped) {
    DataDir d("dbfexec");
    MakeTable(d, "one.dbf", "[[\"a\",\"1\",\"x\"]]");
    std::filesystem::create_directories(d.File("sub"));
    std::filesystem::rename(d.File("one.dbf"), d.File("sub/One.DBF"));
    TagDbfData db("sub\\one.dbf");
    EXPECT_EQ(db.status, 0);
    EXPECT_EQ(db.GetRows(), 1);
    char name[] = "nothere.dbf";
    EXPECT_EQ(db.Exec(name), -5);
    EXPECT_EQ(db.GetRows(), -1);
    EXPECT_EQ(db.GetCols(), -1);
    char buf[kDbValueSize];
    EXPECT_EQ(db.GetFieldIndex("NAME"), -1);
    EXPECT_EQ(db.SetVarByName("x", "NAME", 1), -1);
    EXPECT_EQ(db.GetVar(buf, 0, 1), -1);
}
