#pragma once
// The parts of the ordinal-to-class table, one per family file.
#include <span>

#include "builtins/BuiltinOper.h"

namespace zz {

std::span<const BuiltinEntry> StatementBuiltins();
std::span<const BuiltinEntry> StringsBuiltins();
std::span<const BuiltinEntry> DateTimeBuiltins();
std::span<const BuiltinEntry> TextConvertBuiltins();
std::span<const BuiltinEntry> PatternsBuiltins();
std::span<const BuiltinEntry> RunTimeBuiltins();
std::span<const BuiltinEntry> DatabaseBuiltins();
std::span<const BuiltinEntry> LineSettingsBuiltins();
std::span<const BuiltinEntry> CallControlBuiltins();
std::span<const BuiltinEntry> VoiceFilesBuiltins();
std::span<const BuiltinEntry> SoundCardBuiltins();
std::span<const BuiltinEntry> SipBuiltins();
std::span<const BuiltinEntry> InstantMessagesBuiltins();
std::span<const BuiltinEntry> ConferenceBuiltins();
std::span<const BuiltinEntry> FaxBuiltins();
std::span<const BuiltinEntry> SignallingBuiltins();
std::span<const BuiltinEntry> SocketsBuiltins();
std::span<const BuiltinEntry> FilesBuiltins();
std::span<const BuiltinEntry> UserDllBuiltins();
std::span<const BuiltinEntry> SysInfoBuiltins();
std::span<const BuiltinEntry> MessagesBuiltins();
std::span<const BuiltinEntry> AcdBuiltins();
std::span<const BuiltinEntry> ShareMemBuiltins();

} // namespace zz
