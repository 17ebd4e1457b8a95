// Print and SetPrintTo on the line's print target, checked byte for byte in the files they write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "LineFixture.h"
#include "builtins/BuiltinTable.h"
#include "builtins/TStdOut.h"
#include "engine/TagMapObject.h"

namespace zz {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Runs each test in a scratch directory: the print file's name is relative.
class PrintTarget : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        char tmpl[] = "/tmp/zz_print_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }

    std::unique_ptr<TagOper> Print(TagTelBasic* prog, TagVar* v) { return MakeBuiltinOper(272, &v, 1, prog, nullptr); }
    std::unique_ptr<TagOper> PrintTo(TagTelBasic* prog, TagVar* v) {
        return MakeBuiltinOper(273, &v, 1, prog, nullptr);
    }

    fs::path old_, dir_;
};

TEST_F(PrintTarget, FirstPrintOpensTheLineFileAndTextsFollowEachOther) {
    test::LineFixture line(5);
    TagVar hello, num, dbl;
    hello.SetStr("你好 ");
    num.SetInt(42);
    dbl.SetFloat(2.5);
    EXPECT_EQ(Print(&line.main, &hello)->Run(), 0);
    // From a function of the script: the same target.
    EXPECT_EQ(Print(&line.func, &num)->Run(), 0);
    EXPECT_EQ(Print(&line.main, &dbl)->Run(), 0);
    const std::string expect = "\xC4\xE3\xBA\xC3 "
                               "42"
                               "2.5";
    EXPECT_EQ(ReadAll("_stdout5.txt"), expect);
    EXPECT_FALSE(fs::exists("_stdout0.txt"));
}

TEST_F(PrintTarget, ObjectsPrintInTextFormWithStringsQuoted) {
    test::LineFixture line(2);
    TagVar arr, key, empty;
    key.SetInt(0);
    arr[key].SetStr("x");
    EXPECT_EQ(Print(&line.main, &arr)->Run(), 0);
    EXPECT_EQ(Print(&line.main, &empty)->Run(), 0);
    EXPECT_EQ(ReadAll("_stdout2.txt"), "{\r\n0:\"x\"\r\n}NULL");
    arr = empty;
}

TEST_F(PrintTarget, SetPrintToSwitchesFilesAndAppendsOnReopen) {
    test::LineFixture line(3);
    TagVar path, a, b;
    path.SetStr("out.txt");
    a.SetStr("one");
    b.SetStr("two");
    auto to = PrintTo(&line.func, &path);
    EXPECT_EQ(to->Run(), 0);
    EXPECT_EQ(Print(&line.main, &a)->Run(), 0);
    EXPECT_EQ(ReadAll("out.txt"), "one");
    EXPECT_EQ(to->Run(), 0);
    EXPECT_EQ(ReadAll("out.txt"), "one");
    EXPECT_EQ(Print(&line.main, &b)->Run(), 0);
    EXPECT_EQ(ReadAll("out.txt"), "onetwo");
    EXPECT_FALSE(fs::exists("_stdout3.txt"));
}

TEST_F(PrintTarget, BackslashPathsMapToDirectories) {
    test::LineFixture line(1);
    fs::create_directory("logs");
    TagVar path, a;
    path.SetStr("logs\\p.txt");
    a.SetStr("z");
    EXPECT_EQ(PrintTo(&line.main, &path)->Run(), 0);
    EXPECT_EQ(Print(&line.main, &a)->Run(), 0);
    EXPECT_EQ(ReadAll("logs/p.txt"), "z");
}

TEST_F(PrintTarget, EmptyPathPrintsNumberedLinesOnTheConsole) {
    test::LineFixture line(9);
    TagVar empty, a;
    empty.SetStr("");
    a.SetStr("hi 你好"); // GBK in the script, UTF-8 on a UTF-8 terminal
    EXPECT_EQ(PrintTo(&line.main, &empty)->Run(), 0);
    setenv("LC_ALL", "C.UTF-8", 1);
    ::testing::internal::CaptureStdout();
    int32_t r = Print(&line.main, &a)->Run();
    std::string shown = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(shown, "9 : hi \xe4\xbd\xa0\xe5\xa5\xbd\n");
    EXPECT_FALSE(fs::exists("_stdout9.txt"));
}

TEST_F(PrintTarget, AFileThatCannotOpenFallsBackToTheLineFile) {
    test::LineFixture line(4);
    TagVar path, a;
    path.SetStr("no/such/dir/x.txt");
    a.SetStr("lost");
    EXPECT_EQ(PrintTo(&line.main, &path)->Run(), 0);
    EXPECT_EQ(Print(&line.main, &a)->Run(), 0);
    EXPECT_EQ(ReadAll("_stdout4.txt"), "lost");
}

TEST_F(PrintTarget, ARunKvsProgramPrintsOnTheCallingLine) {
    test::LineFixture caller(6);
    TagTelBasic started;
    TagTelBasic startedFunc("b.kvs", "g", &started);
    started.calledProgram = 1;
    started.callingProgram = &caller.main;
    TagVar a, b;
    a.SetStr("in ");
    b.SetStr("out");
    EXPECT_EQ(Print(&startedFunc, &a)->Run(), 0);
    EXPECT_EQ(Print(&caller.main, &b)->Run(), 0);
    EXPECT_EQ(ReadAll("_stdout6.txt"), "in out");
}

TEST(TStdOutTarget, ModesAndResults) {
    TStdOut out;
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.Print(1, "x"), -1);
    EXPECT_EQ(out.Open(""), TStdOut::kConsole);
    EXPECT_TRUE(out.IsOpen());
    EXPECT_EQ(out.Open("/nonexistent-dir/x"), -1);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.Mode(), TStdOut::kFile);
    out.Close();
    EXPECT_EQ(out.Mode(), TStdOut::kClosed);
}

} // namespace
} // namespace zz
