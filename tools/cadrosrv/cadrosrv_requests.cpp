#include "cadrosrv/cadrosrv_requests.h"

#include <exception>
#include <new>

#include "platform/service/cadrosrv_protocol.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace cadrosrv {

namespace {

constexpr const char* kSettings = "settings";
constexpr const char* kPasswords = "passwords";
constexpr const char* kComponents = "components";

// The wire carries wide text, the file UTF-8.
std::string lookup(ServiceStore& store, const char* section, const std::wstring& name, const wchar_t* what) {
  std::optional<std::string> value = store.load().get(section, text::toUtf8(name));
  if (!value) throw vexception(vformat(L"%s %s is not defined", what, name));
  return *value;
}

void answer(vserializer::reader& request, ServiceStore& store, vserializer::writer& reply) {
  vserializer::guid command = request.readGuid();
  if (command == kGetString) {
    std::wstring name = request.readString();
    reply.writeString(text::fromUtf8(lookup(store, kSettings, name, L"Setting")));
  } else if (command == kGetPassword) {
    std::wstring key = request.readString();
    reply.writeString(text::fromUtf8(lookup(store, kPasswords, key, L"Password")));
  } else if (command == kSetPassword) {
    std::wstring key = request.readString();
    std::wstring value = request.readString();
    store.storePassword(text::toUtf8(key), text::toUtf8(value));
  } else if (command == kComponentInfo) {
    std::wstring package = request.readString();
    int32_t kind = request.readInt32();
    if (kind != kComponentInstallPath)
      throw vexception(vformat(L"Component information of kind %d is not available", kind));
    reply.writeString(text::fromUtf8(lookup(store, kComponents, package, L"Component")));
  } else {
    throw vexception(L"Unknown command " + command.toString());
  }
}

}  // namespace

IniFile FileStore::load() { return loadIniFile(path_); }

void FileStore::storePassword(const std::string& key, const std::string& value) {
  IniFile file;
  try {
    file = loadIniFile(path_);
  } catch (const VFileNotFoundException&) {
    // The first password creates the file.
  }
  file.set(kPasswords, key, value);
  saveIniFile(path_, file);
}

void MemoryStore::storePassword(const std::string& key, const std::string& value) {
  file_.set(kPasswords, key, value);
}

std::string handleRequest(std::string_view request, ServiceStore& store) {
  vserializer::writer reply;
  try {
    vserializer::reader in{std::string(request)};
    answer(in, store, reply);
    return reply.bytes();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const vexception& e) {
    vserializer::writer error;
    error.writeError(e.message());
    return error.bytes();
  } catch (const std::exception& e) {
    vserializer::writer error;
    error.writeError(text::fromAnsi(e.what()));
    return error.bytes();
  }
}

}  // namespace cadrosrv
