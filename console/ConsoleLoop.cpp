#include "console/ConsoleLoop.h"

#include "console/TagConsole.h"
#include "console/TagRemoteCtrl.h"
#include "platform/Gbk.h"
#include "platform/MessageBox.h"
#include "platform/TagRunCfg.h"
#include "platform/TagWriteLog.h"
#include "telephony/TagTelDrive.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace zz {

ConsoleLoop::ConsoleLoop(TagConsole& console, ConsoleView& view) : console_(console), view_(view) {
    QObject::connect(&tick_, &QTimer::timeout, this, [this] { console_.Tick(); });
}

int32_t ConsoleLoop::Start(const ConsoleStart& start) {
    signalFd_ = start.signalFd;
    if (signalFd_ >= 0) {
        signals_ = std::make_unique<QSocketNotifier>(signalFd_, QSocketNotifier::Read);
        QObject::connect(signals_.get(), &QSocketNotifier::activated, this, [this] { OnSignal(); });
    }
    int32_t status = console_.Start(start.cfgFile);
    for (auto [fd, notifier] : {std::pair{console_.QuitEventFd(), &quit_}, std::pair{console_.ShowEventFd(), &show_}}) {
        if (fd < 0) continue;
        *notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier->get(), &QSocketNotifier::activated, this, [this] { console_.CheckEvents(); });
    }
    tick_.start(RunCfg().dispDelay);
    return status;
}

void ConsoleLoop::OnSignal() {
    signalfd_siginfo info;
    while (::read(signalFd_, &info, sizeof info) == ssize_t(sizeof info)) {
        char text[64];
        std::snprintf(text, sizeof text, "Signal %u received.", info.ssi_signo);
        RawLog(text);
        WriteRunLogAlways(text);
        if (info.ssi_signo == SIGUSR1)
            console_.Reload();
        else
            view_.PostQuit();
    }
}

std::string ConsoleLoop::StartLine(TagConsole& console) {
    std::string text = "zuzod: ";
    if (TagTelDrive* d = GetTelDrive()) {
        text += std::to_string(d->LineCount()) + " lines (" + d->LinesByKind() + ")";
        if (std::string where = d->Listening(); !where.empty()) text += "; " + where;
    } else {
        text += "no lines";
    }
    text += "; log " + console.LogFileName();
    if (TagRemoteCtrl* r = console.Remote(); r && r->Running())
        text += "; monitor port " + std::to_string(r->BoundPort());
    else
        text += "; monitor off";
    std::string pid = std::to_string(::getpid());
    // The log's name is GBK like every name the configuration gives.
    return GbkToTerminal(text + "; stop with Ctrl-C or kill -TERM " + pid + ", reload with kill -USR1 " + pid + "\n");
}

namespace {

class HeadlessView : public ConsoleView {
public:
    explicit HeadlessView(TagConsole& console) : console_(console) {}
    void ShowWindow() override { WriteRunLogAlways("Show event received: running without a window"); }
    void PostQuit() override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { console_.Shutdown(); }, Qt::QueuedConnection);
    }
    void CloseWindow() override { QCoreApplication::exit(failed_.load() ? 1 : 0); }
    void RunDone(int32_t result, const TagTelDrive::LoadReport& lines) override {
        if (result >= 0 && lines.runnable > 0) {
            // Some lines serve: those that cannot are told once, then the start line says the platform is up.
            if (!lines.problems.empty()) {
                std::string text = "zuzod: these lines cannot run:\n" + lines.problems;
                // Script names are GBK, as the run log keeps them; the terminal gets its own encoding.
                std::fputs(GbkToTerminal(text).c_str(), stderr);
                WriteRunLogAlways(text.c_str());
            }
            // Lines that run without something they need (a sound device): one line each driver.
            for (size_t at = 0, end; (end = lines.warnings.find('\n', at)) != std::string::npos; at = end + 1) {
                std::string text = "zuzod: " + lines.warnings.substr(at, end - at);
                WriteRunLogAlways(text.c_str());
                std::fputs(GbkToTerminal(text + "\n").c_str(), stderr);
            }
            std::fputs(ConsoleLoop::StartLine(console_).c_str(), stderr);
            return;
        }
        if (result >= 0) {
            std::string text;
            if (lines.scripted == 0) {
                text = "\"" + console_.CfgFile() + "\" gives no line a script: nothing to run";
                if (int32_t bad = RunCfg().badLines; bad > 0)
                    text += " (" + std::to_string(bad) + " lines of it are not KEY=value)";
            } else {
                text = "no line with a script can run:\n" + lines.problems;
                if (text.back() == '\n') text.pop_back();
            }
            ShowMessage(text, "Karvelian System");
        }
        failed_ = true;
        PostQuit();
    }

private:
    TagConsole& console_;
    std::atomic<bool> failed_{false};
};

} // namespace

int RunHeadless(int argc, char** argv, TagConsole& console, const ConsoleStart& start) {
    QCoreApplication app(argc, argv);
    HeadlessView view(console);
    console.SetView(&view);
    SetMessageSink([](const std::string& text, const std::string& caption) {
        WriteRunLogAlways((caption + ": " + text).c_str());
    });
    ConsoleLoop loop(console, view);
    int code;
    if (loop.Start(start) < 0) {
        // Nothing runs: stop in order at once, so a service manager sees the failure.
        console.Shutdown();
        code = 1;
    } else {
        // The start line comes once the lines have loaded (RunDone).
        code = app.exec();
    }
    console.SetView(nullptr);
    SetMessageSink(nullptr);
    return code;
}

} // namespace zz
