#include "app/SystemStart.h"

#include "builtins/BuiltinTable.h"
#include "builtins/LineSettings.h"
#include "builtins/SysInfo.h"
#include "console/TagConsole.h"
#include "console/TagMonitor.h"
#include "data/TagMySqlData.h"
#include "data/TagSybData.h"
#include "data/TagTqrDbData.h"
#include "engine/TagMemKvs.h"
#include "engine/TagTelBasic.h"
#include "telephony/LineKeys.h"
#include "telephony/LinePrograms.h"
#include "telephony/TagTelDrive.h"
#include "telephony/card/TagShDrive.h"
#include "telephony/virtual/TagVirCard.h"
#include "telephony/sip/TagSipDrive.h"

#include <mutex>

namespace zz {

namespace {

class EnginePrograms : public LinePrograms {
public:
    TagTelBasic* Build(const std::string& file, int32_t lineNo, TagKvCall* call) override {
        return new TagTelBasic(file.c_str(), lineNo, call, 1, nullptr);
    }
    void Destroy(TagTelBasic* p) override { delete p; }
    int32_t Run(TagTelBasic* p) override { return p->Run(); }
    int32_t InitResult(TagTelBasic* p) override { return p->initResult; }
    void SetLineEntry(TagTelBasic* p, TagTelLine* line) override { p->lineEntry = line; }
    void SetReloadAllowed(TagTelBasic* p, bool on) override { p->SetReloadAllowed(on ? 1 : 0); }
    void SetReload(TagTelBasic* p, bool on) override { p->SetReload(on ? 1 : 0); }
    bool ReloadRequested(TagTelBasic* p) override { return p->reloadRequested != 0; }
    void RequestQuit(TagTelBasic* p) override {
        p->SetQuit(1);
        p->stop = 1;
    }
    void ForceEnd(TagTelBasic* p) override { p->endOfRun = 1; }
    bool Stopped(TagTelBasic* p) override { return p->stopped != 0; }
    void ClearScriptCache() override { TagMemKvs::Process().Clear(); }
};

int32_t LinesCountHook() {
    TagTelDrive* d = GetTelDrive();
    return d ? d->LineCount() : 0;
}

int KeyModeOf(int32_t line) {
    TagTelDrive* d = GetTelDrive();
    TagTelLine* e = d ? d->Line(line) : nullptr;
    if (!e) return -1;
    std::lock_guard<std::mutex> lk(e->programLock);
    if (!e->program) return -1;
    const LineSettingsState* st = e->program->FindLineState<LineSettingsState>();
    return st ? st->keyDispMode.load() : 0;
}

} // namespace

LinePrograms& EngineLinePrograms() {
    static EnginePrograms programs;
    return programs;
}

void PrepareSystem() {
    RegisterBuiltins();
    SetVersionLabel(TagConsole::kVersionLabel);
    // Card lines run on the simulated card (a maker installed before, by tests, stays); SIP lines on the SIP driver.
    DriverMakers makers = GetDriverMakers();
    if (!makers.card) makers.card = [](TagRunCfg*) { return MakeCardDrive(); };
    if (!makers.vir) makers.vir = MakeVirDrive;
    makers.sip = MakeSipDrive;
    SetDriverMakers(makers);
    SetLinePrograms(&EngineLinePrograms());
    SetDbLibraries({[] { LoadMySqlLibrary(); }, [] { LoadTqrDbLibrary(); }, [] { LoadDbLibrary(); }, FreeTqrDbLibrary,
                    FreeMySqlLibrary, FreeDbLibrary});
    SetLineDisplay({SetLineState, DispScriptFile, DispInfo, SetDispColor, DispKeys});
    SetLineKeysCell({GetDispKeys, SetDispKeys});
    TheEngineHooks().linesCount = LinesCountHook;
    TheEngineHooks().setLineState = [](int32_t line, const char* state) { SetLineState(line, state); };
    SetKeyModeLookup(KeyModeOf);
    InstallDebugHooks();
}

TagConsole& HeadlessConsole() {
    static TagConsole* console = new TagConsole; // lives as long as the threads that may reach it
    return *console;
}

int32_t InitSystem(const std::string& cfgFile) {
    PrepareSystem();
    HeadlessConsole().SetCfgFile(cfgFile);
    return HeadlessConsole().InitSystem();
}

void DispMonitor() {
    HeadlessConsole().DispMonitor();
}

void CloseSystem() {
    HeadlessConsole().Shutdown();
}

std::string SystemInfoText() {
    return HeadlessConsole().PanelText(Panel::Info);
}

} // namespace zz
