// User libraries shared between lines: one module per file for the whole process, counted by the lines' slots,
// bound entries that every line finds, and the run-log lines of failing calls.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "BuiltinCall.h"
#include "LineFixture.h"
#include "builtins/Statements.h"
#include "builtins/UserDll.h"

namespace zz {
namespace {

TEST(UserLibs, LinesShareOneModuleFreedWithTheLastReference) {
    test::LineFixture a(1), b(2);
    UserLibState& la = a.main.LineState<UserLibState>();
    UserLibState& lb = b.main.LineState<UserLibState>();
    const int32_t before = GlobalDlls().Count();
    EXPECT_EQ(la.DllLoad(ZZ_USERLIB), 0);
    EXPECT_EQ(la.DllLoad(ZZ_USERLIB), 0); // the same slot, no second reference
    EXPECT_EQ(lb.DllLoad("libc.so.6"), 0);
    EXPECT_EQ(lb.DllLoad(""), -1); // no name is no library (dlopen would give the program itself)
    EXPECT_EQ(lb.DllLoad(ZZ_USERLIB), 1);
    EXPECT_EQ(GlobalDlls().Count(), before + 2);
    // A name bound on one line is found by every line that has the library.
    EXPECT_EQ(la.DllFunction(0, "Sum", 3), 0);
    int32_t count = 0;
    EXPECT_NE(lb.FindFunc("Sum", &count), nullptr);
    EXPECT_EQ(count, 3);
    la.Release(0);
    EXPECT_EQ(GlobalDlls().Count(), before + 2);
    EXPECT_NE(lb.FindFunc("Sum", &count), nullptr);
    lb.ReleaseAll();
    EXPECT_EQ(GlobalDlls().Count(), before);
    EXPECT_EQ(la.DllFunction(0, "Sum", 3), -1); // a free slot
    EXPECT_EQ(la.DllFunction(50, "Sum", 3), -1);
}

TEST(UserLibs, AMissingExportIsSkippedForALaterSlotThatHasIt) {
    test::RunLogCapture log("userlibmissing");
    test::LineFixture line;
    UserLibState& lib = line.main.LineState<UserLibState>();
    ASSERT_EQ(lib.DllLoad("libc.so.6"), 0);
    ASSERT_EQ(lib.DllLoad(ZZ_USERLIB), 1);
    lib.DllFunction(0, "Shorten", 1);
    lib.DllFunction(1, "Shorten", 1);
    int32_t count = 0;
    EXPECT_NE(lib.FindFunc("Shorten", &count), nullptr);
    EXPECT_EQ(count, 1);
    EXPECT_NE(log.Text().find("['Shorten' Not found for DLL.]"), std::string::npos) << log.Text();
    // Declared with 2 but called with 1: refused before the call.
    lib.DllFunction(1, "Sum", 2);
    TagDllCall call("Sum", &line.main);
    TagVar one;
    one.SetInt(1);
    call.AddPara(&one);
    EXPECT_EQ(call.Run(), -1);
}

TEST(UserLibs, ExceptionsOfTheLibraryAreLoggedAndGiveMinus100) {
    test::RunLogCapture log("userlibthrow");
    test::LineFixture line;
    UserLibState& lib = line.main.LineState<UserLibState>();
    ASSERT_EQ(lib.DllLoad(ZZ_USERLIB), 0);
    lib.DllFunction(0, "Throws", 0);
    lib.DllFunction(0, "ThrowsAnything", 0);
    EXPECT_EQ(TagDllCall("Throws", &line.func).Run(), -100);
    EXPECT_EQ(TagDllCall("ThrowsAnything", &line.main).Run(), -100);
    std::string text = log.Text();
    EXPECT_NE(text.find("[DllRun Err: Throws(): boom]"), std::string::npos) << text;
    EXPECT_NE(text.find("[DllRun Err: ThrowsAnything()]"), std::string::npos) << text;

    // A function that faults gives -100 too, and the process and the library go on.
    lib.DllFunction(0, "Faults", 0);
    lib.DllFunction(0, "Sum", 0);
    EXPECT_EQ(TagDllCall("Faults", &line.main).Run(), -100);
    EXPECT_EQ(TagDllCall("Faults", &line.main).Run(), -100);
    EXPECT_EQ(TagDllCall("Sum", &line.main).Run(), 0);
    EXPECT_NE(log.Text().find("[DllRun Err: Faults(): Segmentation fault]"), std::string::npos) << log.Text();
}

TEST(UserLibs, LookupsOfOneLineGoOnWhileAnotherBindsNames) {
    test::LineFixture a(1), b(2);
    UserLibState& la = a.main.LineState<UserLibState>();
    UserLibState& lb = b.main.LineState<UserLibState>();
    ASSERT_EQ(la.DllLoad(ZZ_USERLIB), 0);
    ASSERT_EQ(lb.DllLoad(ZZ_USERLIB), 0);
    la.DllFunction(0, "Sum", 3);
    std::atomic<bool> done{false};
    std::thread binder([&] {
        for (int i = 0; i < 2000; ++i)
            lb.DllFunction(0, ("Missing" + std::to_string(i)).c_str(), 1);
        done = true;
    });
    int32_t found = 0, count = 0;
    while (!done)
        found += la.FindFunc("Sum", &count) != nullptr;
    binder.join();
    EXPECT_GT(found, 0);
    EXPECT_NE(la.FindFunc("Sum", &count), nullptr);
}

} // namespace
} // namespace zz
