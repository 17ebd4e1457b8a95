// The main program object: construction, system variables, loading files into logical lines, the error log
// and the end-of-compile checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/TagCallState.h"
#include "engine/TagMapObject.h"
#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/Gbk.h"

namespace zz {
namespace {

class ProgramFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zz_prog_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(getcwd(old_, sizeof old_), old_);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        TagMemKvs::Process().Clear();
        call.lineNo = 3;
    }
    void TearDown() override {
        TagMemKvs::Process().Clear();
        ASSERT_EQ(chdir(old_), 0);
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void Write(const std::string& name, const std::string& text) {
        std::ofstream(name, std::ios::binary) << text;
    }
    static std::string Read(const std::string& name) {
        std::ifstream f(name, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    static bool Exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

    // Compile times print as 0.000 seconds: only sleeps move this clock, and none falls inside a timed compile.
    VirtualClock clock{1000, true};
    ScopedClock useClock{&clock};
    TagCallState call;
    std::string dir_;
    char old_[4096] = {};
};

TEST_F(ProgramFiles, SystemVariablesComeFirstInTheirOrder) {
    ASSERT_EQ(system("mkdir -p scripts/sub"), 0);
    Write("scripts/sub/a.kvs", "x = 1;\n");
    call.lineKind = 6; // a SIP line
    TagTelBasic p("scripts/sub/a.kvs", 3, &call, 1, nullptr);
    ASSERT_EQ(p.initResult, 0);
    const char* names[] = {"_tempVal", "_retVal", "_lineNo", "_lineType", "_linesCount",
                           "_kvsFile", "_kvsDir", "true",    "false",     "NULL"};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(p.Var(i)->Name(), names[i]) << i;
    EXPECT_EQ(p.Var(1)->intVal, -1);
    EXPECT_EQ(p.Var(2)->intVal, 3);
    EXPECT_EQ(p.Var(3)->intVal, 6);
    EXPECT_EQ(std::string(p.Var(5)->Str()), "a.kvs");
    EXPECT_EQ(std::string(p.Var(6)->Str()), "scripts/sub/");
    EXPECT_EQ(p.Var(9)->type, TagVar::kEmpty);
    // Read-only system values stay what they are.
    TagVar five;
    five.SetInt(5);
    for (int i : {2, 7, 8, 9}) {
        const int32_t type = p.Var(i)->type, value = p.Var(i)->intVal;
        *p.Var(i) = five;
        EXPECT_EQ(p.Var(i)->type, type) << names[i];
        EXPECT_EQ(p.Var(i)->intVal, value) << names[i];
    }
    // The split of the symbol table: read-only entries are constants, the rest variables.
    for (TagVar* v : p.constants)
        EXPECT_TRUE(v->readOnly);
    for (TagVar* v : p.variables)
        EXPECT_FALSE(v->readOnly);
    EXPECT_EQ(p.variables.size() + p.constants.size(), static_cast<size_t>(p.VarCount()));
}

TEST_F(ProgramFiles, PathSplitsAtTheLastSeparatorOfEitherKind) {
    std::string d, f;
    TagTelBasic::SplitPath("a.kvs", d, f);
    EXPECT_EQ(d, "");
    EXPECT_EQ(f, "a.kvs");
    TagTelBasic::SplitPath("c:\\kvs\\b/c.kvs", d, f);
    EXPECT_EQ(d, "c:\\kvs\\b/");
    EXPECT_EQ(f, "c.kvs");
    TagTelBasic::SplitPath("dir/", d, f);
    EXPECT_EQ(d, "dir/");
    EXPECT_EQ(f, "");
}

TEST_F(ProgramFiles, NoUsableCallObjectCompilesNothing) {
    Write("a.kvs", "x = 1;\n");
    Write("errmsg3.txt", "old");
    TagTelBasic none("a.kvs", 3, nullptr, 1, nullptr);
    EXPECT_EQ(none.initResult, -2);
    EXPECT_EQ(none.VarCount(), 0);
    // The line's old error log goes before anything else is decided.
    EXPECT_FALSE(Exists("errmsg3.txt"));
    call.lineNo = -1;
    TagTelBasic bad("a.kvs", 3, &call, 1, nullptr);
    EXPECT_EQ(bad.initResult, -2);
    EXPECT_EQ(bad.OpCount(), 0);
}

TEST_F(ProgramFiles, AMissingFileIsAnErrorEntryAndASummary) {
    testing::internal::CaptureStdout();
    TagTelBasic p("nofile.kvs", 3, &call, 1, nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.initResult, -2);
    EXPECT_EQ(p.errorCount, 1);
    // The line reaches the terminal in its own encoding.
    EXPECT_NE(out.find(GbkToTerminal("  fBuff==NULL, 打不开文件错误")), std::string::npos);
    EXPECT_EQ(Read("errmsg3.txt"), "[Error]nofile.kvs(0): 打不开文件错误, nofile.kvs\n"
                                   "\nnofile.kvs: 总错误数: 1; 总警告数: 0; 编译时间: 0.000秒, 编译结束\n");
}

// Each entry of the error file also reaches standard error; lines that compile the same script to the same
// entries show them once, and a line that compiles again (a reload) shows them again.
TEST_F(ProgramFiles, ErrorEntriesReachStandardErrorOnceForTheLinesThatShareThem) {
    Write("once.kvs", "x = 1;\nn = = 1\n");
    auto compile = [&](int32_t line) {
        testing::internal::CaptureStderr();
        TagTelBasic p("once.kvs", line, &call, 1, nullptr);
        EXPECT_EQ(p.initResult, -2);
        return testing::internal::GetCapturedStderr();
    };
    std::string first = compile(5);
    std::string entry = Read("errmsg5.txt");
    ASSERT_EQ(entry.rfind("[Error]once.kvs(2): ", 0), 0u) << entry;
    entry = GbkToTerminal(entry.substr(7, entry.find('\n') - 6));
    EXPECT_EQ(first.rfind(entry, 0), 0u) << first;
    EXPECT_EQ(compile(6).find(entry), std::string::npos);
    EXPECT_EQ(compile(7).find(entry), std::string::npos);
    EXPECT_EQ(compile(5).find(entry), 0u);
    EXPECT_EQ(compile(6).find(entry), std::string::npos);
}

TEST_F(ProgramFiles, PhysicalLinesEndInAnyOfTheThreeWays) {
    const char* texts[] = {"a\nbb\n\nccc", "a\rbb\r\rccc", "a\r\nbb\r\n\r\nccc"};
    for (const char* t : texts) {
        std::string s = t;
        size_t pos = 0;
        char dest[16];
        std::vector<std::string> lines;
        while (TagTelBasic::ReadSourceLine(s.c_str(), s.size(), pos, dest, sizeof dest))
            lines.push_back(dest);
        EXPECT_EQ(lines, (std::vector<std::string>{"a", "bb", "", "ccc"})) << t;
    }
    // A line longer than the room goes on as the next line; the destination always ends.
    std::string longLine(20, 'x');
    size_t pos = 0;
    char dest[8];
    ASSERT_TRUE(TagTelBasic::ReadSourceLine(longLine.c_str(), longLine.size(), pos, dest, sizeof dest));
    EXPECT_EQ(std::string(dest), "xxxxxxx");
    EXPECT_EQ(pos, 7u);
}

// Compiles with the statement compiler: the driver's line counting, joins and error entries.
TEST_F(ProgramFiles, ContinuationAndLongLinesCountPhysicalLines) {
    // Line 3 continues onto line 4 (blanks after the backslash allowed); the unknown name is reported at the
    // last physical line of the joined text.
    Write("a.kvs", "x = 1;\n// note\ny = \\  \n  q;\nz = 2;\n");
    TagTelBasic p("a.kvs", 3, &call, 0, nullptr);
    EXPECT_EQ(p.initResult, -2);
    std::string log = Read("errmsg3.txt");
    EXPECT_NE(log.find("[Error]a.kvs(4): "), std::string::npos) << log;
    // 1500 characters make two logical lines, and the file counts them as two.
    std::string comment = "//" + std::string(1498, 'c');
    Write("b.kvs", comment + "\nx = 1;\n");
    TagTelBasic q("b.kvs", 3, &call, 0, nullptr);
    EXPECT_EQ(q.initResult, -2) << "the tail of the long comment line is not a statement";
    EXPECT_NE(Read("errmsg3.txt").find("[Error]b.kvs(2): "), std::string::npos) << Read("errmsg3.txt");
}

TEST_F(ProgramFiles, AFileIncludedTwiceCompilesOnceWithOneWarning) {
    Write("inc.kvs", "y = 2;\n");
    Write("main.kvs", "#include \"inc.kvs\"\n#include <inc.kvs>\nx = y;\n");
    TagTelBasic p("main.kvs", 3, &call, 0, nullptr);
    EXPECT_EQ(p.initResult, 0);
    EXPECT_EQ(p.warningCount, 1);
    EXPECT_EQ(p.includes, (std::vector<std::string>{"main.kvs", "inc.kvs"}));
    EXPECT_EQ(p.scriptFile, "main.kvs");
    EXPECT_EQ(Read("errmsg3.txt"), "[Warning]main.kvs(2): 重复包含文件, inc.kvs\n"
                                   "\nmain.kvs: 总错误数: 0; 总警告数: 1; 编译时间: 0.000秒, 编译结束\n");
    // Run mode 1 writes no warnings and, without errors, no summary.
    std::remove("errmsg3.txt");
    TagTelBasic q("main.kvs", 3, &call, 1, nullptr);
    EXPECT_EQ(q.initResult, 0);
    EXPECT_FALSE(Exists("errmsg3.txt"));
    // An include of the includer ends the cycle the same way.
    Write("c1.kvs", "#include \"c2.kvs\"\n");
    Write("c2.kvs", "#include \"c1.kvs\"\n");
    TagTelBasic r("c1.kvs", 3, &call, 0, nullptr);
    EXPECT_EQ(r.initResult, 0);
    EXPECT_EQ(r.warningCount, 1);
}

TEST_F(ProgramFiles, IncludesNestTheirLimitDeepAndTheNextIsAnErrorNamingTheFile) {
    // main.kvs includes inc0.kvs, which includes inc1.kvs, and so on.
    for (int i = 0; i < 40; ++i)
        Write("inc" + std::to_string(i) + ".kvs",
              "#include \"inc" + std::to_string(i + 1) + ".kvs\"\nv" + std::to_string(i) + " = 1;\n");
    Write("main.kvs", "#include \"inc0.kvs\"\n");
    TagTelBasic p("main.kvs", 3, &call, 0, nullptr);
    EXPECT_EQ(p.initResult, -2);
    const int deepest = TagTelBasic::kMaxIncludeDepth - 1;
    EXPECT_EQ(p.includes.size(), static_cast<size_t>(TagTelBasic::kMaxIncludeDepth) + 1);
    EXPECT_EQ(Read("errmsg3.txt"), "[Error]inc" + std::to_string(deepest) + ".kvs(1): 包含文件嵌套太深, inc" +
                                       std::to_string(deepest + 1) +
                                       ".kvs\n\nmain.kvs: 总错误数: 1; 总警告数: 0; 编译时间: 0.000秒, 编译结束\n");
}

TEST_F(ProgramFiles, NeverCalledFunctionsGoInPasses) {
    Write("g.kvs", "function inner(a)\n{\nreturn(a);\n}\n"
                   "function lonely(a)\n{\nx = inner(a);\nreturn(x);\n}\n"
                   "function self(a)\n{\nx = self(a);\nreturn(x);\n}\n"
                   "function ping(a)\n{\nreturn(a);\n}\n"
                   "function pong(a)\n{\nx = ping(a);\nreturn(x);\n}\n"
                   "z = pong(1);\n");
    TagTelBasic p("g.kvs", 3, &call, 0, nullptr);
    ASSERT_EQ(p.initResult, 0) << Read("errmsg3.txt");
    std::vector<std::string> kept;
    for (auto& u : p.subList)
        kept.push_back(u->unitName);
    // lonely goes in the first pass, inner (called only by lonely) in the second; self calls only itself.
    EXPECT_EQ(kept, (std::vector<std::string>{"ping", "pong"}));
    EXPECT_EQ(p.warningCount, 3);
    std::string log = Read("errmsg3.txt");
    EXPECT_NE(log.find("[Warning]g.kvs(1): function inner(a), 该函数从来没有被调用过, 已被优化\n"), std::string::npos)
        << log;
    // A function variable never points at a removed unit.
    TagVar* v = nullptr;
    ASSERT_GE(p.FindOwnVar("lonely", &v), 0);
    EXPECT_EQ(v->FuncUnit(), nullptr);
}

TEST_F(ProgramFiles, GetRootAndReloadFlags) {
    Write("a.kvs", "x = 1;\n");
    TagTelBasic main("a.kvs", 3, &call, 1, nullptr);
    TagTelBasic started("a.kvs", 3, &call, 1, &main);
    TagTelBasic fn("a.kvs", "f", &started);
    EXPECT_EQ(fn.GetRoot(), &main);
    EXPECT_EQ(started.GetRoot(), &main);
    EXPECT_EQ(main.GetRoot(), &main);
    EXPECT_EQ(fn.lineNo, 3);

    // A reload is pending only once allowed, and waits while the line is in a call.
    call.stopFlag = false;
    main.SetReload(1);
    EXPECT_FALSE(main.IsReloadPending());
    EXPECT_FALSE(call.stopFlag.load());
    main.SetReloadAllowed(1);
    call.callState = 1;
    EXPECT_FALSE(main.IsReloadPending());
    call.callState = 2;
    EXPECT_TRUE(main.IsReloadPending());
    main.SetReload(1);
    EXPECT_TRUE(call.stopFlag.load());
}

TEST_F(ProgramFiles, SharedVariablesCountTheirObjects) {
    Write("a.kvs", "x = 1;\n");
    TagTelBasic caller("a.kvs", 3, &call, 1, nullptr);
    TagVar* list = nullptr;
    caller.FindOrCreateVar("list", &list);
    TagVar key, value;
    key.SetInt(1);
    value.SetStr("kept");
    (*list)[key] = value;
    ASSERT_EQ(list->type, TagVar::kObject);
    const int32_t id = list->ObjId();
    const int32_t refs = g_mapObjects.RefCount(id);
    caller.shareVars = 1;
    {
        TagTelBasic started("a.kvs", 3, &call, 1, &caller);
        TagVar* copy = nullptr;
        ASSERT_GE(started.FindOwnVar("list", &copy), 0);
        EXPECT_EQ(copy->ObjId(), id);
        EXPECT_EQ(g_mapObjects.RefCount(id), refs + 1);
        // The started program letting go of its copy (as its run's end does) leaves the caller's object whole.
        TagVar zero;
        zero.SetInt(0);
        *copy = zero;
    }
    EXPECT_EQ(g_mapObjects.RefCount(id), refs);
    EXPECT_EQ(list->Len(), 1);
}

} // namespace
} // namespace zz
