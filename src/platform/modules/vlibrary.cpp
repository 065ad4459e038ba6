#include "platform/modules/vlibrary.h"

#include <dlfcn.h>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

namespace {

std::wstring loaderError() {
  const char* e = dlerror();
  return e ? text::fromAnsi(e) : std::wstring();
}

}  // namespace

VModule VModule::self() { return VModule(dlopen(nullptr, RTLD_NOW), L""); }

void* VModule::getProcAddress(const VModule& module, const std::string& name) {
  dlerror();
  void* handle = module.handle() ? module.handle() : RTLD_DEFAULT;
  void* p = dlsym(handle, name.c_str());
  if (!p) {
    raiseOsError(L"GetProcAddress(" + text::fromAnsi(name) + L")", winerr::kProcNotFound,
                 ContextRecord{loaderError(), "VModule::getProcAddress", __LINE__});
  }
  return p;
}

VLibrary::~VLibrary() {
  if (handle_) dlclose(handle_);
}

void VLibrary::load(const std::wstring& fileName) {
  if (handle_) unload();
  fileName_ = fileName;
  dlerror();
  handle_ = dlopen(text::toAnsi(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    raiseOsError(L"LoadLibrary(" + fileName + L")", winerr::kModNotFound,
                 ContextRecord{loaderError(), "VLibrary::load", __LINE__});
  }
}

void VLibrary::unload() {
  if (!handle_) return;
  void* h = handle_;
  handle_ = nullptr;
  if (dlclose(h) != 0)
    raiseOsError(L"FreeLibrary(" + fileName_ + L")", winerr::kInvalidHandle,
                 ContextRecord{loaderError(), "VLibrary::unload", __LINE__});
}
