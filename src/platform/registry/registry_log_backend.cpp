#include "platform/registry/registry_log_backend.h"

#include <cerrno>

#include "platform/report/event_log_file.h"
#include "platform/sync/named_mutex.h"
#include "platform/registry/registry.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"

namespace {

constexpr uint32_t kDefaultMaxSize = 0x800000;

class FileEventSource : public EventSource {
 public:
  FileEventSource(std::wstring sourceName, uint64_t maxSize)
      : sourceName_(std::move(sourceName)), file_(text::toUtf8(kEventLogName), maxSize) {}

  bool report(int level, std::wstring_view textIn, std::wstring_view executablePath) override {
    return file_.append(eventTypeOfLevel(level), sourceName_, 1, 0,
                        {std::wstring(textIn), std::wstring(executablePath)});
  }

 private:
  std::wstring sourceName_;
  EventLogFile file_;
};

// Holds the registration mutex for a scope.
class MutexHold {
 public:
  explicit MutexHold(NamedMutex& m) : m_(m) { m_.lock(-1); }
  ~MutexHold() { m_.unlock(); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  NamedMutex& m_;
};

class RegistryLogBackend : public LogBackend {
 public:
  std::optional<uint32_t> readDebug() override {
    uint32_t value = 0;
    if (registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", value, 0) != 0) return std::nullopt;
    return value;
  }

  std::wstring readDebugUtilExec() override {
    return registry::getstr(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"DebugUtilExec", REG_SZ);
  }

  std::wstring readEventMessageFile() override {
    return registry::getstr(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"CadroService", REG_SZ);
  }

  std::wstring eventSourceName(const std::wstring& programName) override {
    if (registry::exists(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\EventLog\\Application\\" + programName))
      return L"Cadro:  " + programName;
    return programName;
  }

  std::unique_ptr<EventSource> registerEventSource(const std::wstring& sourceName,
                                                   const std::wstring& messageFile) override {
    NamedMutex mutex(kEventRegistrationMutex);
    MutexHold hold(mutex);

    const std::wstring logKey = std::wstring(registry::kEventLogKey) + L"\\" + kEventLogName;
    if (!registry::exists(HKEY_LOCAL_MACHINE, logKey)) {
      registry::key log(HKEY_LOCAL_MACHINE, logKey, KEY_ALL_ACCESS, false);
      registry::set(log, L"MaxSize", kDefaultMaxSize);
      registry::set(log, L"Retention", 0u);
    }

    const std::wstring name = eventSourceName(sourceName);
    {
      registry::key source(HKEY_LOCAL_MACHINE,
                           L"System\\CurrentControlSet\\Services\\EventLog\\" + std::wstring(kEventLogName) + L"\\" + name,
                           KEY_ALL_ACCESS, false);
      registry::set(source, L"TypesSupported", 7u);
      registry::set(source, L"EventMessageFile", messageFile);
    }

    // The log's size limit as the key holds it now (an operator may have changed it).
    uint32_t maxSize = kDefaultMaxSize;
    try {
      if (registry::lookup(HKEY_LOCAL_MACHINE, logKey, L"MaxSize", maxSize, 0) != 0) maxSize = kDefaultMaxSize;
    } catch (const vexception&) {
      maxSize = kDefaultMaxSize;
    }
    if (!sysroot::ensureDirectory(sysroot::path("eventlog")))
      raiseErrno(L"RegisterEventSource", errno, VCTX(L"", "LogManager::getEventLog"));
    return std::make_unique<FileEventSource>(name, maxSize);
  }
};

}  // namespace

std::unique_ptr<LogBackend> makeRegistryLogBackend() { return std::make_unique<RegistryLogBackend>(); }

std::unique_ptr<LogBackend> makeDefaultLogBackend() { return makeRegistryLogBackend(); }
