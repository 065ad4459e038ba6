#include "reg_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/registry/reg_file.h"
#include "platform/registry/registry_store.h"
#include "platform/text/text_codec.h"

namespace cadroreg {

using registry::KeyFile;
using registry::KeyPath;
using registry::RegistryStore;
using registry::StoreStatus;
using registry::Value;

namespace {

constexpr const wchar_t* kNotFound = L"The system was unable to find the specified registry key or value.";
constexpr const wchar_t* kSuccess = L"The operation completed successfully.";

void print(std::wstring_view textIn) {
  std::string bytes = text::toUtf8(textIn);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int failWith(std::wstring_view message) {
  std::fflush(stdout);
  std::string bytes = "ERROR: " + text::toUtf8(message) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  return 1;
}

int fail(const StoreStatus& st) {
  if (st.code == winerr::kFileNotFound) return failWith(kNotFound);
  if (!st.detail.empty()) return failWith(st.detail);
  return failWith(osErrorText(st.code, {}));
}

int succeed() {
  print(std::wstring(kSuccess) + L"\n");
  return 0;
}

std::wstring displayName(const KeyPath& path) {
  std::wstring name = L"HKEY_LOCAL_MACHINE";
  for (const std::wstring& part : path) name += L"\\" + part;
  return name;
}

const wchar_t* kHexUpper = L"0123456789ABCDEF";

std::wstring hexBytes(std::string_view data) {
  std::wstring out;
  for (unsigned char b : data) {
    out += kHexUpper[b >> 4];
    out += kHexUpper[b & 15];
  }
  return out;
}

std::wstring littleEndianNumber(std::string_view data) {
  uint64_t v = 0;
  for (size_t i = data.size(); i-- > 0;) v = v << 8 | static_cast<unsigned char>(data[i]);
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return text::fromAnsi(buf);
}

std::wstring typeDisplay(uint32_t type) {
  if (const char* name = registry::typeName(type)) return text::fromAnsi(name);
  switch (type) {
    case 5: return L"REG_DWORD_BIG_ENDIAN";
    case 6: return L"REG_LINK";
    case 8: return L"REG_RESOURCE_LIST";
    case 9: return L"REG_FULL_RESOURCE_DESCRIPTOR";
    case 10: return L"REG_RESOURCE_REQUIREMENTS_LIST";
    default: return littleEndianNumber(registry::encodeDword(type));
  }
}

std::wstring dataDisplay(const Value& v) {
  switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: return registry::decodeString(v.data);
    case REG_MULTI_SZ: {
      std::wstring out;
      for (const std::wstring& item : registry::decodeMultiString(v.data)) {
        if (!out.empty()) out += L"\\0";
        out += item;
      }
      return out;
    }
    case REG_DWORD:
      if (v.data.size() == 4) return littleEndianNumber(v.data);
      break;
    case REG_QWORD:
      if (v.data.size() == 8) return littleEndianNumber(v.data);
      break;
    default: break;
  }
  return hexBytes(v.data);
}

std::wstring valueLine(const Value& v) {
  return L"    " + (v.name.empty() ? std::wstring(L"(Default)") : v.name) + L"    " + typeDisplay(v.type) + L"    " +
         dataDisplay(v) + L"\n";
}

// Depth-first walk of a tree: the key, then its sub-keys in order.
class TreeWalk {
 public:
  explicit TreeWalk(const RegistryStore& store) : store_(store) {}
  // `visit(path, display, key)` returns false to stop; the walk's status then is success.
  template <typename Visit>
  StoreStatus run(const KeyPath& path, const std::wstring& display, const KeyFile& key, Visit&& visit) {
    if (!visit(path, display, key)) return StoreStatus::success();
    std::vector<std::wstring> children;
    StoreStatus st = store_.listSubKeys(path, children);
    if (!st.ok()) return st;
    for (const std::wstring& child : children) {
      KeyPath childPath = path;
      childPath.push_back(child);
      KeyFile childKey;
      st = store_.readKey(childPath, childKey);
      if (st.code == winerr::kFileNotFound) continue;  // deleted meanwhile
      if (!st.ok()) return st;
      st = run(childPath, display + L"\\" + child, childKey, visit);
      if (!st.ok()) return st;
    }
    return StoreStatus::success();
  }

 private:
  const RegistryStore& store_;
};

bool parseNumber(std::wstring_view s, uint64_t limit, uint64_t& out) {
  if (s.empty()) return false;
  int base = 10;
  if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  uint64_t v = 0;
  for (wchar_t c : s) {
    int d;
    if (c >= L'0' && c <= L'9')
      d = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f')
      d = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F')
      d = c - L'A' + 10;
    else
      return false;
    if (v > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  out = v;
  return true;
}

bool parseHexDigits(std::wstring_view s, std::string& out) {
  if (s.size() % 2 != 0) return false;
  for (size_t i = 0; i < s.size(); i += 2) {
    auto digit = [](wchar_t c) {
      if (c >= L'0' && c <= L'9') return c - L'0';
      if (c >= L'a' && c <= L'f') return c - L'a' + 10;
      if (c >= L'A' && c <= L'F') return c - L'A' + 10;
      return -1;
    };
    int hi = digit(s[i]), lo = digit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

// The value that `add` writes; false with the error text.
bool buildValue(const Arguments& args, Value& v, std::wstring& error) {
  v.name = *args.valueName;
  std::wstring typeText = args.type.value_or(L"REG_SZ");
  std::optional<uint32_t> type = registry::typeFromName(text::toUtf8(typeText));
  if (!type) {
    error = L"Invalid type '" + typeText + L"'.";
    return false;
  }
  v.type = *type;
  std::wstring data = args.data.value_or(L"");
  uint64_t number = 0;
  switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: v.data = registry::encodeString(data); return true;
    case REG_MULTI_SZ: {
      std::vector<std::wstring> items;
      size_t start = 0;
      while (!data.empty() && start <= data.size()) {
        size_t sep = data.find(L"\\0", start);
        if (sep == std::wstring::npos) sep = data.size();
        items.push_back(data.substr(start, sep - start));
        start = sep + 2;
      }
      for (const std::wstring& item : items)
        if (item.empty()) {
          error = L"A REG_MULTI_SZ item is empty.";
          return false;
        }
      v.data = registry::encodeMultiString(items);
      return true;
    }
    case REG_DWORD:
      if (!parseNumber(data, 0xFFFFFFFFull, number)) break;
      v.data = registry::encodeDword(static_cast<uint32_t>(number));
      return true;
    case REG_QWORD:
      if (!parseNumber(data, ~0ull, number)) break;
      v.data = registry::encodeQword(number);
      return true;
    default:
      if (!parseHexDigits(data, v.data)) break;
      return true;
  }
  error = L"Invalid data '" + data + L"' for type " + typeText + L".";
  return false;
}

bool readWholeFile(const std::string& path, std::string& out, int& err) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

int runQuery(const Arguments& args) {
  RegistryStore store = RegistryStore::system();
  KeyFile key;
  StoreStatus st = store.readKey(args.key, key);
  if (!st.ok()) return fail(st);
  std::wstring display = displayName(args.key);

  if (!args.recurse) {
    if (args.valueName) {
      Value v;
      if (!key.find(*args.valueName, v)) return failWith(kNotFound);
      print(display + L"\n" + valueLine(v));
      return 0;
    }
    std::wstring out = display + L"\n";
    for (const Value& v : key.values()) out += valueLine(v);
    std::vector<std::wstring> children;
    st = store.listSubKeys(args.key, children);
    if (!st.ok()) return fail(st);
    if (!children.empty()) out += L"\n";
    for (const std::wstring& child : children) out += display + L"\\" + child + L"\n";
    print(out);
    return 0;
  }

  bool first = true;
  bool matched = false;
  TreeWalk walk(store);
  st = walk.run(args.key, display, key, [&](const KeyPath&, const std::wstring& name, const KeyFile& k) {
    std::wstring block;
    if (args.valueName) {
      Value v;
      if (!k.find(*args.valueName, v)) return true;
      block = name + L"\n" + valueLine(v);
    } else {
      block = name + L"\n";
      for (const Value& v : k.values()) block += valueLine(v);
    }
    print((first ? L"" : L"\n") + block);
    first = false;
    matched = true;
    return true;
  });
  if (!st.ok()) return fail(st);
  if (!matched) return failWith(kNotFound);
  return 0;
}

int runAdd(const Arguments& args) {
  Arguments a = args;
  if (!a.valueName && (a.type || a.data)) a.valueName = L"";  // data without a name: the default value
  RegistryStore store = RegistryStore::system();
  if (!a.valueName) {
    StoreStatus st = store.createKey(a.key);
    return st.ok() ? succeed() : fail(st);
  }
  Value v;
  std::wstring error;
  if (!buildValue(a, v, error)) return failWith(error);
  if (v.name.size() > registry::kMaxNameLength) return failWith(L"The value name is too long.");
  StoreStatus st = store.updateKey(a.key, true, [&](KeyFile& k) {
    k.set(v);
    return StoreStatus::success();
  });
  return st.ok() ? succeed() : fail(st);
}

int runDelete(const Arguments& args) {
  RegistryStore store = RegistryStore::system();
  StoreStatus st;
  if (args.allValues) {
    st = store.updateKey(args.key, false, [](KeyFile& k) {
      k.removeAll();
      return StoreStatus::success();
    });
  } else if (args.valueName) {
    st = store.updateKey(args.key, false, [&](KeyFile& k) {
      return k.remove(*args.valueName) ? StoreStatus::success() : StoreStatus{winerr::kFileNotFound, {}};
    });
  } else {
    st = store.deleteTree(args.key);
  }
  return st.ok() ? succeed() : fail(st);
}

int runImport(const Arguments& args) {
  std::string content;
  int err = 0;
  if (!readWholeFile(args.file, content, err))
    return failWith(L"Cannot read '" + text::fromAnsi(args.file) + L"': " + text::fromAnsi(std::strerror(err)));
  std::vector<registry::RegFileChange> changes;
  registry::RegFileError parseError;
  if (!registry::parseRegFile(content, changes, parseError))
    return failWith(text::fromAnsi(args.file) + L" line " + std::to_wstring(parseError.line) + L": " +
                    parseError.reason + L" (nothing was imported)");

  RegistryStore store = RegistryStore::system();
  using Kind = registry::RegFileChange::Kind;
  for (size_t i = 0; i < changes.size();) {
    const registry::RegFileChange& c = changes[i];
    StoreStatus st;
    if (c.kind == Kind::DeleteKey) {
      st = store.deleteTree(c.key);
      if (st.code == winerr::kFileNotFound) st = StoreStatus::success();
      ++i;
    } else if (c.kind == Kind::CreateKey) {
      st = store.createKey(c.key);
      ++i;
    } else {
      // The values of one section change the key in one write.
      size_t end = i;
      while (end < changes.size() && changes[end].kind != Kind::DeleteKey && changes[end].kind != Kind::CreateKey &&
             changes[end].key == c.key)
        ++end;
      st = store.updateKey(c.key, true, [&](KeyFile& k) {
        for (size_t j = i; j < end; ++j) {
          if (changes[j].kind == Kind::SetValue)
            k.set(changes[j].value);
          else
            k.remove(changes[j].value.name);
        }
        return StoreStatus::success();
      });
      i = end;
    }
    if (!st.ok()) {
      std::wstring where = text::fromAnsi(args.file) + L" line " + std::to_wstring(c.line) + L": ";
      if (st.code == winerr::kFileNotFound) return failWith(where + kNotFound);
      return failWith(where + (st.detail.empty() ? osErrorText(st.code, {}) : st.detail));
    }
  }
  return succeed();
}

int runExport(const Arguments& args) {
  RegistryStore store = RegistryStore::system();
  KeyFile key;
  StoreStatus st = store.readKey(args.key, key);
  if (!st.ok()) return fail(st);
  // An export names every key as it is stored, whatever spelling the command used.
  std::wstring display = L"HKEY_LOCAL_MACHINE";
  for (size_t depth = 1; depth <= args.key.size(); ++depth) {
    KeyFile ancestor;
    st = depth == args.key.size() ? StoreStatus::success()
                                  : store.readKey(KeyPath(args.key.begin(), args.key.begin() + depth), ancestor);
    if (!st.ok()) return fail(st);
    display += L"\\" + (depth == args.key.size() ? key.name() : ancestor.name());
  }

  registry::RegFileWriter writer;
  std::wstring badName;
  TreeWalk walk(store);
  st = walk.run(args.key, display, key, [&](const KeyPath&, const std::wstring& name, const KeyFile& k) {
    if (!writer.key(name)) {
      badName = name;
      return false;
    }
    for (const Value& v : k.values()) writer.value(v);
    return true;
  });
  if (!st.ok()) return fail(st);
  if (!badName.empty()) return failWith(L"The key name '" + badName + L"' holds a line break and cannot be exported.");

  int fd = ::open(args.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return failWith(L"Cannot write '" + text::fromAnsi(args.file) + L"': " + text::fromAnsi(std::strerror(errno)));
  const std::string& out = writer.text();
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      return failWith(L"Cannot write '" + text::fromAnsi(args.file) + L"': " + text::fromAnsi(std::strerror(e)));
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0)
    return failWith(L"Cannot write '" + text::fromAnsi(args.file) + L"': " + text::fromAnsi(std::strerror(errno)));
  return succeed();
}

}  // namespace cadroreg
