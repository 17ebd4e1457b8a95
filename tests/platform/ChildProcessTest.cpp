// Programs of the host: what they inherit, how the end is seen, and that nothing is left unreaped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/WakeEvent.h"
#include "tests/support/TestDir.h"

using namespace zz;

namespace {

// Waits for the program's end on a wake event, as a line does.
bool WaitEnd(ChildProcess& p, int64_t ms) {
    WakeEvent wake;
    p.Watch(&wake);
    bool ended = wake.WaitFor(ms, [&] { return p.Ended(); });
    p.Watch(nullptr);
    return ended;
}

TEST(ChildProcess, CommandLinesSplitAsWindowsSplitsThem) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ChildProcess::SplitCommandLine("  prog  a\tb "), (V{"prog", "a", "b"}));
    EXPECT_EQ(ChildProcess::SplitCommandLine("\"C:\\Program Files\\x.exe\" \"two words\" a\"b c\""),
              (V{"C:\\Program Files\\x.exe", "two words", "ab c"}));
    EXPECT_EQ(ChildProcess::SplitCommandLine("say \\\"hi\\\" \"\""), (V{"say", "\"hi\"", ""}));
    EXPECT_TRUE(ChildProcess::SplitCommandLine(" ").empty());
}

TEST(ChildProcess, InheritsOnlyTheStandardDescriptorsAndIsReapedWhenItEnds) {
    TestDir dir("child");
    // A descriptor of this process opened without close-on-exec, as a library might hold one.
    int fd = ::open("held.txt", O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 3);
    ChildProcess p;
    std::string line =
        "sh -c \"echo $$ > pid.txt; test -e /proc/self/fd/" + std::to_string(fd) + " && exit 9; exit 4\"";
    ASSERT_TRUE(p.Start(line));
    ASSERT_TRUE(WaitEnd(p, WakeEvent::kForever));
    EXPECT_EQ(p.ExitCode(), 4);
    ::close(fd);
    pid_t pid = std::stoi(TestDir::Read("pid.txt"));
    // Ended means reaped: no zombie keeps the number.
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(ChildProcess, KilledProgramsEndAndMissingOnesDoNotStart) {
    ChildProcess p;
    ASSERT_TRUE(p.Start("sleep 600"));
    EXPECT_FALSE(p.Ended());
    p.Kill();
    ASSERT_TRUE(WaitEnd(p, WakeEvent::kForever));
    EXPECT_EQ(p.ExitCode(), 128 + SIGKILL);
    ChildProcess missing;
    EXPECT_FALSE(missing.Start("/nonexistent/program x"));
    EXPECT_FALSE(missing.Start("no-such-program-on-the-path"));
    EXPECT_FALSE(missing.Start(""));
}

} // namespace
