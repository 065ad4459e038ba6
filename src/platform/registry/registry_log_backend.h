#pragma once
// The log manager's backend over the registry: the switches "Debug" and "DebugUtilExec"
// and the event message file "CadroService" under the configuration key, and the
// registration of the event source of the event log "Cadro":
//
// 1. under the machine-wide mutex "{F485C63C-FF60-4c1a-A4BF-A3958C9F3D32}";
// 2. the log key SYSTEM\CurrentControlSet\Services\EventLog\Cadro is created when missing,
//    with "MaxSize" 0x800000 and "Retention" 0;
// 3. the source name becomes "Cadro:  " + name when the Application log has a source of
//    that name already;
// 4. the source key under the log key gets "TypesSupported" 7 and "EventMessageFile";
// 5. the source appends its records to eventlog/Cadro.log, rotated at the log's "MaxSize".
//
// A store that cannot be read or written makes the registration fail, which the log
// manager counts as an unavailable event log.

#include <memory>

#include "platform/report/log_manager.h"

inline constexpr const wchar_t* kEventLogName = L"Cadro";
inline constexpr const wchar_t* kEventRegistrationMutex = L"{F485C63C-FF60-4c1a-A4BF-A3958C9F3D32}";

std::unique_ptr<LogBackend> makeRegistryLogBackend();
