#include "media/TagMsTTS.h"

#include "media/SpeechEngine.h"
#include "platform/PathMap.h"
#include "platform/TagWriteLog.h"

#include <cstdio>
#include <vector>

namespace zz {

TagMsTTS::TagMsTTS() {
    init_ = Init();
}

TagMsTTS::~TagMsTTS() {
    CloseStream();
    Release();
}

int32_t TagMsTTS::Init() {
    voice_ = false;
    stream_.Close();
    int32_t hr = SpeechEngineInit();
    if (hr != kHrOk) {
        char text[96];
        snprintf(text, sizeof text, "MS TTS : Could not create a TTS voice on the local machine, hr=0x%x",
                 unsigned(hr));
        WriteRunLogAlways(text);
        if (hr == int32_t(0x80040154u))
            WriteRunLog("REGDB_E_CLASSNOTREG\n");
        else if (hr == int32_t(0x80040110u))
            WriteRunLog("CLASS_E_NOAGGREGATION\n");
        else if (hr == int32_t(0x80004002u))
            WriteRunLog("E_NOINTERFACE\n");
        return hr;
    }
    voice_ = true;
    return kHrOk;
}

int32_t TagMsTTS::BindFile(const std::string& fileName, int formatCode) {
    CloseStream();
    stream_ = FileHandle::Open(MapPath(fileName).c_str(), "wb");
    if (!stream_) {
        WriteRunLogF("MS TTS: BindToFile(%s), hr=%d", fileName.c_str(), kHrAccessDenied);
        return kHrAccessDenied;
    }
    format_ = formatCode;
    return kHrOk;
}

int32_t TagMsTTS::SpeakToFile(const std::string& text, const std::string& fileName, bool chinese, int formatCode,
                              const std::function<bool()>& stop) {
    if (init_ != kHrOk) return init_;
    int32_t hr = BindFile(fileName, formatCode);
    if (hr != kHrOk || !stream_) {
        WriteRunLogF("MS TTS: cpWavStream=NULL, ret=%d", hr);
        return -1;
    }
    std::vector<int16_t> samples;
    hr = SpeechSynthesize(WrapLang(text, chinese), SpeechLang::Auto, true, samples, stop);
    // A failed speech still leaves a well-formed (empty) voice file, as the bound stream would.
    if (hr != kHrOk) samples.clear();
    int32_t written = WriteSpeechWav(stream_.get(), samples, format_);
    if (hr == kHrOk) hr = written;
    CloseStream();
    return hr;
}

// Speech into a file is synchronous: by the time a caller can purge, nothing is queued.
void TagMsTTS::Purge() {}

void TagMsTTS::CloseStream() {
    Purge();
    stream_.Close();
}

void TagMsTTS::Release() {
    voice_ = false;
}

} // namespace zz
