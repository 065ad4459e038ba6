#include "platform/registry/registry.h"

#include "platform/registry/registry_store.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"

namespace registry {

namespace {

StoreStatus invalidRoot() { return {winerr::kInvalidHandle, {}}; }

uint32_t readValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName, Value& out) {
  if (root != HKEY_LOCAL_MACHINE) return winerr::kInvalidHandle;
  KeyFile keyFile;
  StoreStatus st = RegistryStore::system().readKey(splitKeyPath(subKey), keyFile);
  if (!st.ok()) return st.code;
  if (!keyFile.find(valueName, out)) return winerr::kFileNotFound;
  return 0;
}

[[noreturn]] void raiseTypeError(const std::wstring& subKey, const std::wstring& valueName) {
  throw vexception(L"RegQueryValueEx invalid type of '" + subKey + L"\\" + valueName + L"'",
                   VCTX(L"", "registry::lookup"));
}

StoreStatus storeValue(HKEY root, const std::wstring& subKey, bool createMissing, const Value& value) {
  if (root != HKEY_LOCAL_MACHINE) return invalidRoot();
  if (value.name.size() > kMaxNameLength || value.data.size() > kMaxValueSize)
    return {winerr::kInvalidParameter, {}};
  return RegistryStore::system().updateKey(splitKeyPath(subKey), createMissing, [&](KeyFile& keyFile) {
    keyFile.set(value);
    return StoreStatus::success();
  });
}

void setValue(key& k, const Value& value) {
  StoreStatus st;
  if (!k.isOpen())
    st = {winerr::kInvalidHandle, {}};
  else if ((k.access() & KEY_SET_VALUE) == 0)
    st = {winerr::kAccessDenied, {}};
  else
    st = storeValue(k.root(), k.path(), false, value);
  // The key was deleted while this object held it open.
  if (st.code == winerr::kFileNotFound) st.code = kErrorKeyDeleted;
  if (!st.ok()) raiseOsError(L"RegSetValueEx valueName=" + value.name, st.code, VCTX(st.detail, "registry::set"));
}

uint32_t writeValue(HKEY root, const std::wstring& subKey, const Value& value) noexcept {
  try {
    return storeValue(root, subKey, true, value).code;
  } catch (...) {
    return winerr::kOutOfMemory;
  }
}

}  // namespace

key::key(HKEY root, const std::wstring& path, REGSAM access, bool openOnly) {
  if (openOnly)
    open(root, path, *this, access);
  else
    create(root, path, *this, access);
}

key::~key() { close(); }

key::key(key&& other) noexcept
    : open_(other.open_), root_(other.root_), path_(std::move(other.path_)), access_(other.access_) {
  other.open_ = false;
}

key& key::operator=(key&& other) noexcept {
  if (this != &other) {
    open_ = other.open_;
    root_ = other.root_;
    path_ = std::move(other.path_);
    access_ = other.access_;
    other.open_ = false;
  }
  return *this;
}

void key::close() { open_ = false; }

void create(HKEY root, const std::wstring& subKey, key& out, REGSAM access) {
  out.close();
  StoreStatus st = root == HKEY_LOCAL_MACHINE ? RegistryStore::system().createKey(splitKeyPath(subKey)) : invalidRoot();
  if (!st.ok()) raiseOsError(L"RegCreateKeyEx subKey=" + subKey, st.code, VCTX(st.detail, "registry::create"));
  out.open_ = true;
  out.root_ = root;
  out.path_ = subKey;
  out.access_ = access;
}

void open(HKEY root, const std::wstring& subKey, key& out, REGSAM access) {
  out.close();
  StoreStatus st = root == HKEY_LOCAL_MACHINE ? RegistryStore::system().keyExists(splitKeyPath(subKey)) : invalidRoot();
  if (!st.ok()) raiseOsError(L"RegOpenKeyEx subKey=" + subKey, st.code, VCTX(st.detail, "registry::open"));
  out.open_ = true;
  out.root_ = root;
  out.path_ = subKey;
  out.access_ = access;
}

void set(key& k, const std::wstring& valueName, uint32_t value) {
  setValue(k, Value{valueName, REG_DWORD, encodeDword(value)});
}

void set(key& k, const std::wstring& valueName, const std::wstring& value) {
  setValue(k, Value{valueName, REG_SZ, encodeString(value)});
}

uint32_t lookup(HKEY root, const std::wstring& subKey, const std::wstring& valueName, uint32_t& out, int view) {
  (void)viewFlag(view);
  Value v;
  if (uint32_t code = readValue(root, subKey, valueName, v)) return code;
  // The reader's buffer holds four bytes: a longer value does not fit, whatever its type.
  if (v.data.size() > 4) return winerr::kMoreData;
  if (v.type != REG_DWORD) raiseTypeError(subKey, valueName);
  if (v.data.size() != 4)
    throw vexception(L"RegQueryValueEx invalid size of '" + subKey + L"\\" + valueName + L"'",
                     VCTX(L"", "registry::lookup"));
  out = static_cast<uint32_t>(static_cast<unsigned char>(v.data[0])) |
        static_cast<uint32_t>(static_cast<unsigned char>(v.data[1])) << 8 |
        static_cast<uint32_t>(static_cast<unsigned char>(v.data[2])) << 16 |
        static_cast<uint32_t>(static_cast<unsigned char>(v.data[3])) << 24;
  return 0;
}

uint32_t lookup(HKEY root, const std::wstring& subKey, const std::wstring& valueName, std::wstring& out,
                uint32_t expectedType, int view) {
  (void)viewFlag(view);
  Value v;
  if (uint32_t code = readValue(root, subKey, valueName, v)) return code;
  auto isString = [](uint32_t t) { return t == REG_SZ || t == REG_EXPAND_SZ; };
  if (v.type != expectedType && !(isString(v.type) && isString(expectedType))) raiseTypeError(subKey, valueName);
  std::wstring textValue = decodeString(v.data);
  out = v.type == REG_EXPAND_SZ ? VFileName::expandEnvironmentStrings(textValue) : std::move(textValue);
  return 0;
}

uint32_t lookup(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                std::vector<std::wstring>& out, int view) {
  (void)viewFlag(view);
  Value v;
  if (uint32_t code = readValue(root, subKey, valueName, v)) return code;
  if (v.type != REG_MULTI_SZ) raiseTypeError(subKey, valueName);
  for (std::wstring& item : decodeMultiString(v.data)) out.push_back(std::move(item));
  return 0;
}

std::wstring getstr(HKEY root, const std::wstring& subKey, const std::wstring& valueName, uint32_t expectedType) {
  std::wstring out;
  if (uint32_t code = lookup(root, subKey, valueName, out, expectedType, 0))
    raiseOsError(L"lookup subKey=" + subKey + L" value=" + valueName + L" with type " + std::to_wstring(expectedType),
                 code, VCTX(L"", "registry::getstr"));
  return out;
}

std::vector<std::wstring> getMulti(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
  std::vector<std::wstring> out;
  if (uint32_t code = lookup(root, subKey, valueName, out, 0))
    raiseOsError(L"lookup subKey=" + subKey + L" value=" + valueName, code, VCTX(L"", "registry::getMulti"));
  return out;
}

uint32_t write(HKEY root, const std::wstring& subKey, const std::wstring& valueName, uint32_t value) {
  return writeValue(root, subKey, Value{valueName, REG_DWORD, encodeDword(value)});
}

uint32_t write(HKEY root, const std::wstring& subKey, const std::wstring& valueName, const std::wstring& value) {
  return writeValue(root, subKey, Value{valueName, REG_SZ, encodeString(value)});
}

bool exists(HKEY root, const std::wstring& subKey) {
  try {
    return root == HKEY_LOCAL_MACHINE && RegistryStore::system().keyExists(splitKeyPath(subKey)).ok();
  } catch (...) {
    return false;
  }
}

uint32_t deleteTree(HKEY root, const std::wstring& subKey) {
  if (root != HKEY_LOCAL_MACHINE) return winerr::kInvalidHandle;
  try {
    return RegistryStore::system().deleteTree(splitKeyPath(subKey)).code;
  } catch (...) {
    return winerr::kOutOfMemory;
  }
}

uint32_t enumSubKeys(key& k, std::vector<std::wstring>& out) {
  if (!k.isOpen() || k.root() != HKEY_LOCAL_MACHINE) return winerr::kInvalidHandle;
  if ((k.access() & KEY_ENUMERATE_SUB_KEYS) == 0) return winerr::kAccessDenied;
  std::vector<std::wstring> names;
  StoreStatus st = RegistryStore::system().listSubKeys(splitKeyPath(k.path()), names);
  if (st.code == winerr::kFileNotFound) return kErrorKeyDeleted;
  if (!st.ok()) return st.code;
  for (std::wstring& name : names) {
    // The enumeration's name buffer holds 255 characters and its terminator.
    if (name.size() > kMaxKeyNameLength) return winerr::kMoreData;
    out.push_back(std::move(name));
  }
  return 0;
}

REGSAM viewFlag(int view) {
  switch (view) {
    case 1: return KEY_WOW64_32KEY;
    case 2: return KEY_WOW64_64KEY;
    case 3: return KEY_WOW64_32KEY;  // never under WOW64 here
    default: return 0;
  }
}

std::wstring domainKey(const std::wstring& domainId) { return std::wstring(kDomainStateKey) + L"\\" + domainId; }

void createDomainStateKeys() {
  for (const wchar_t* path : {kStatisticsKey, kDomainStateKey}) {
    key k;
    create(HKEY_LOCAL_MACHINE, path, k, KEY_ENUMERATE_SUB_KEYS);
  }
}

uint32_t enumDomainIds(std::vector<std::wstring>& ids) {
  key k(HKEY_LOCAL_MACHINE, kDomainStateKey, KEY_ENUMERATE_SUB_KEYS, true);
  return enumSubKeys(k, ids);
}

std::wstring normalizeProductPath(std::wstring_view path) {
  std::wstring s(path);
  for (wchar_t& c : s)
    if (c == L'\\') c = L'/';
  std::wstring prefix;
  if (s.compare(0, 4, L"//?/") == 0 || s.compare(0, 4, L"//./") == 0) {
    prefix = s.substr(0, 4);
    s.erase(0, 4);
  }
  bool leading = !s.empty() && s.front() == L'/';
  bool trailing = s.size() >= 2 && s.back() == L'/';
  std::vector<std::wstring> kept;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(L'/', start);
    if (end == std::wstring::npos) end = s.size();
    std::wstring part = s.substr(start, end - start);
    if (part == L"..") {
      if (!kept.empty() && kept.back() != L"..")
        kept.pop_back();
      else
        kept.push_back(part);
    } else if (!part.empty() && part != L".") {
      kept.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::wstring out = prefix;
  if (leading) out += L'/';
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i) out += L'/';
    out += kept[i];
  }
  if (trailing) out += L'/';
  while (!out.empty() && (out.back() == L'/' || out.back() == L'\\')) out.pop_back();
  return out;
}

}  // namespace registry
