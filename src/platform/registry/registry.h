#pragma once
// The registry library: every setting, time stamp and lock state of the program is a value
// under HKEY_LOCAL_MACHINE in the registry store (registry_store.h) under the system root.
// Key and value names compare without regard to case and keep the case they were created
// with; the empty value name is the key's default value.
//
// Error codes are Windows codes (vexception.h, winerr): a missing key or value is 2, a
// value too large for the reader's buffer 234, a damaged key file 1015 (the store's text
// names the file; registry_store.h), a key deleted under an open key object 1018. Only
// HKEY_LOCAL_MACHINE is a valid root (any other gives 6). There is one registry view: the
// view selectors and view flags are accepted and change nothing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using HKEY = uintptr_t;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

using REGSAM = uint32_t;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

namespace registry {

// Keys of the program (under HKEY_LOCAL_MACHINE).
inline constexpr const wchar_t* kConfigKey = L"SOFTWARE\\Cadro\\CDR Config\\Config";
inline constexpr const wchar_t* kStatisticsKey = L"SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics";
inline constexpr const wchar_t* kDomainStateKey = L"SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds";
inline constexpr const wchar_t* kPackagesKey = L"SOFTWARE\\Cadro\\CDR Config\\Config\\Packages";
inline constexpr const wchar_t* kEventLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog";

// An open key (none when closed); closed by the destructor.
class key {
 public:
  key() = default;
  // Opens (openOnly) or creates the key; raises as registry::open / registry::create.
  key(HKEY root, const std::wstring& path, REGSAM access, bool openOnly);
  ~key();
  key(const key&) = delete;
  key& operator=(const key&) = delete;
  key(key&& other) noexcept;
  key& operator=(key&& other) noexcept;

  bool isOpen() const { return open_; }
  void close();
  HKEY root() const { return root_; }
  // The key's path as it was asked for.
  const std::wstring& path() const { return path_; }
  REGSAM access() const { return access_; }

 private:
  friend void create(HKEY, const std::wstring&, key&, REGSAM);
  friend void open(HKEY, const std::wstring&, key&, REGSAM);
  bool open_ = false;
  HKEY root_ = 0;
  std::wstring path_;
  REGSAM access_ = 0;
};

// Raises the OS error "RegCreateKeyEx subKey=" + subKey (operation "registry::create").
void create(HKEY root, const std::wstring& subKey, key& out, REGSAM access);
// Raises the OS error "RegOpenKeyEx subKey=" + subKey (operation "registry::open").
void open(HKEY root, const std::wstring& subKey, key& out, REGSAM access);

// Write a REG_DWORD / REG_SZ; raise "RegSetValueEx valueName=" + name (operation "registry::set").
void set(key& k, const std::wstring& valueName, uint32_t value);
void set(key& k, const std::wstring& valueName, const std::wstring& value);

// 0, or the OS error code when the key or value cannot be read (out untouched). A stored
// type other than REG_DWORD raises "RegQueryValueEx invalid type of '<subKey>\<name>'",
// a REG_DWORD whose size is not 4 "RegQueryValueEx invalid size of '...'". `view` 0..3.
uint32_t lookup(HKEY root, const std::wstring& subKey, const std::wstring& valueName, uint32_t& out, int view);
// String form: REG_SZ and REG_EXPAND_SZ are interchangeable as the expected type; a stored
// REG_EXPAND_SZ is expanded. Any other mismatch raises the type error.
uint32_t lookup(HKEY root, const std::wstring& subKey, const std::wstring& valueName, std::wstring& out,
                uint32_t expectedType, int view);
// List form: REG_MULTI_SZ only; items are appended to `out`.
uint32_t lookup(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                std::vector<std::wstring>& out, int view);

// Raise "lookup subKey=" + subKey + " value=" + name + " with type " + type digit
// (operation "registry::getstr") for any error code.
std::wstring getstr(HKEY root, const std::wstring& subKey, const std::wstring& valueName, uint32_t expectedType);
// Raise "lookup subKey=" + subKey + " value=" + name (operation "registry::getMulti").
std::vector<std::wstring> getMulti(HKEY root, const std::wstring& subKey, const std::wstring& valueName);

// Never raise; the key is created when missing. 0 or the OS error code.
uint32_t write(HKEY root, const std::wstring& subKey, const std::wstring& valueName, uint32_t value);
uint32_t write(HKEY root, const std::wstring& subKey, const std::wstring& valueName, const std::wstring& value);

// True when the key can be opened for reading; never raises.
bool exists(HKEY root, const std::wstring& subKey);
// Removes the key with all its sub-keys and values; the OS result code.
uint32_t deleteTree(HKEY root, const std::wstring& subKey);
// Lists the sub-key names; 0 when the enumeration ran out, otherwise the stopping error.
uint32_t enumSubKeys(key& k, std::vector<std::wstring>& out);

// The access mask addition of a view selector: 0 none, 1 32-bit view, 2 64-bit view,
// 3 the 64-bit view under WOW64 (never here) and the 32-bit view otherwise.
REGSAM viewFlag(int view);

// The per-domain key: kDomainStateKey + "\" + domain identifier.
std::wstring domainKey(const std::wstring& domainId);

// Creates the statistics key and the domain state key when missing, each with
// enumerate-sub-keys access and closed at once; raises as registry::create.
void createDomainStateKeys();
// The domain identifiers: the domain state key opened with enumerate-sub-keys access and
// its sub-keys listed (appended to `ids`). Raises as registry::open when the key is
// missing; otherwise the result of enumSubKeys.
uint32_t enumDomainIds(std::vector<std::wstring>& ids);

// Product path normalisation: backslashes become "/"; a leading "//?/" or "//./" is kept
// as a prefix; empty and "." parts are dropped, ".." removes the part before it (or stays
// when there is none to remove); a leading "/" is kept; trailing separators are removed
// ("C:/Inetpub//vhosts/./x/../" gives "C:/Inetpub/vhosts", a text of separators only
// gives ""). Pure; never raises.
std::wstring normalizeProductPath(std::wstring_view path);

}  // namespace registry
