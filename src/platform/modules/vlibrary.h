#pragma once
// Shared libraries: loaded with dlopen, exports found with dlsym by their names.

#include <string>

class VModule {
 public:
  VModule() = default;
  explicit VModule(void* handle, std::wstring fileName = {}) : handle_(handle), fileName_(std::move(fileName)) {}
  virtual ~VModule() = default;

  void* handle() const { return handle_; }
  const std::wstring& fileName() const { return fileName_; }
  // The program itself (its own exported symbols).
  static VModule self();

  // The exported function `name`; raises the OS error 127 with the operation text
  // "GetProcAddress(<name>)" when it is missing.
  static void* getProcAddress(const VModule& module, const std::string& name);

 protected:
  void* handle_ = nullptr;
  std::wstring fileName_;
};

// A loaded shared library, freed when the object is destroyed.
class VLibrary : public VModule {
 public:
  VLibrary() = default;
  explicit VLibrary(const std::wstring& fileName) { load(fileName); }
  ~VLibrary() override;
  VLibrary(const VLibrary&) = delete;
  VLibrary& operator=(const VLibrary&) = delete;

  // Raises the OS error 126 with "LoadLibrary(<file>)"; the loader's own text is added as
  // a context record.
  void load(const std::wstring& fileName);
  // Raises "FreeLibrary(<file>)" when the loader refuses.
  void unload();
  bool loaded() const { return handle_ != nullptr; }
};
