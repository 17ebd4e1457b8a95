#pragma once
// The speech engine behind TagTTS and TagMsTTS: espeak-ng (voices "cmn" and "en") under one process-wide lock,
// its output resampled to 16-bit mono 8000 Hz.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zz {

// Result codes in the speech interface's numbering.
constexpr int32_t kHrOk = 0;
constexpr int32_t kHrFail = int32_t(0x80004005u);           // E_FAIL
constexpr int32_t kHrClassNotReg = int32_t(0x80040154u);    // REGDB_E_CLASSNOTREG: no engine or voice data
constexpr int32_t kHrFileNotFound = int32_t(0x80030002u);   // STG_E_FILENOTFOUND
constexpr int32_t kHrAccessDenied = int32_t(0x80030005u);   // STG_E_ACCESSDENIED: output file not created
constexpr int32_t kHrDeviceNotFound = int32_t(0x8004500Au); // no such audio device
constexpr int32_t kHrAbort = int32_t(0x80004004u);          // E_ABORT: the speaker stopped the speech
constexpr int32_t kHrInvalidArg = int32_t(0x80070057u);     // E_INVALIDARG: a text longer than speech takes

enum class SpeechLang { Chinese, English, Auto };

// The longest text one speech of a script takes (about five minutes of sound; a longer one would hold the
// process-wide engine and memory for minutes).
constexpr size_t kMaxSpeechText = 4096;

// Starts the engine once for the process; kHrOk or kHrClassNotReg.
int32_t SpeechEngineInit();

// Speaks GBK text into samples. markup: the text holds the speech interface's XML (LANG, SILENCE, EMPH...);
// Auto picks the language from a LANG element, else Chinese when the text holds double-byte characters. stop,
// when given, is asked as the speech goes (every fifth of a second of sound): true ends it with kHrAbort and no
// samples, and frees the engine for the other lines.
int32_t SpeechSynthesize(const std::string& gbkText, SpeechLang lang, bool markup, std::vector<int16_t>& out,
                         const std::function<bool()>& stop = {});

// The language element the speech interface takes: <LANG LANGID="804"> (Chinese) or "409" (English).
std::string WrapLang(const std::string& text, bool chinese);

// Writes samples as a WAV file in a format code: 0 16-bit PCM, 1 A-law, 2 mu-law, other 8-bit PCM.
// kHrOk, or kHrAccessDenied when the file cannot be written.
int32_t WriteSpeechWav(FILE* f, const std::vector<int16_t>& samples, int formatCode);

} // namespace zz
