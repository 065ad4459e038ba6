#pragma once
// Statistics::ModuleFactory: the modules of one section ("Web") of the configuration file
// "statistics.modules", and the module objects it creates from them.
//
// The section element may hold a "Factory" element, which names an exported function that
// builds the section's factory instead of this class's default one, and any number of
// "Module" elements, each naming a library (empty: the program itself), the exported
// module factory function ("ObjectFactory") and the type of the modules it makes
// ("ObjectType", may be empty). Element names compare without regard to case, attribute
// names as written.
//
// The "Module" elements are read once, at the first createModules; libraries stay loaded
// while a descriptor or a module object refers to them.

#include <memory>
#include <string>
#include <vector>

#include <cadro/statistics_module.h>

#include "platform/modules/vlibrary.h"
#include "platform/modules/xml_document.h"

namespace Statistics {

// One "Module" element: where its factory function lives and what its modules are.
struct ModuleDescriptor {
  std::shared_ptr<VModule> library;  // a loaded VLibrary, or the program itself
  ModuleFactoryFunction factory = nullptr;
  std::wstring type;
  pugi::xml_node element;
};

// A module object together with the library its code lives in: the object is deleted
// before the library can be unloaded.
class ModuleObject {
 public:
  ModuleObject(std::shared_ptr<VModule> library, Module* module) : library_(std::move(library)), module_(module) {}
  Module& operator*() const { return *module_; }
  Module* operator->() const { return module_.get(); }

 private:
  std::shared_ptr<VModule> library_;  // declared first: destroyed after the module
  std::unique_ptr<Module> module_;
};
using ModuleList = std::vector<ModuleObject>;

class ModuleFactory {
 public:
  // The function a "Factory" element names: builds the factory of section `sectionName`
  // from its "Factory" element; takes over `library` (null when the function lives in the
  // program itself). Returns an object allocated with new, owned by the caller.
  using SectionFactoryFunction = ModuleFactory* (*)(const std::wstring& sectionName, XmlDocument document,
                                                    pugi::xml_node factoryElement, std::shared_ptr<VLibrary> library,
                                                    ModuleHost& host);

  // A factory over `section` (an element of `document`, or an empty node for a section the
  // file lacks). Library paths that are not absolute are taken relative to
  // `libraryDirectory` when it is not empty.
  ModuleFactory(std::wstring sectionName, XmlDocument document, pugi::xml_node section, ModuleHost& host,
                std::shared_ptr<VLibrary> library = nullptr, std::wstring libraryDirectory = {});
  virtual ~ModuleFactory();
  ModuleFactory(const ModuleFactory&) = delete;
  ModuleFactory& operator=(const ModuleFactory&) = delete;

  // The factory of section `section` of the file `path`. A missing file is no error; one
  // that cannot be read or parsed is reported at level 3 ("Unable to read config file: " +
  // path); both give the built-in document, whose section holds no modules. Failures of the
  // section's "Factory" element pass to the caller.
  static std::shared_ptr<ModuleFactory> fromXMLFile(const std::wstring& path, const std::wstring& section,
                                                    ModuleHost& host);
  // The factory of a section element: the default one, or the one its "Factory" element's
  // function builds. A "Factory" without "ObjectFactory" raises WrongConfigurationException
  // "Unable to find factory's object factory"; a missing library or function raises the OS
  // error of VLibrary::load or VModule::getProcAddress.
  static std::shared_ptr<ModuleFactory> fromXMLElement(XmlDocument document, pugi::xml_node section,
                                                       const std::wstring& sectionName, ModuleHost& host,
                                                       const std::wstring& libraryDirectory = {});

  // Reads the "Module" elements in document order into the descriptors and reports
  // "Module library:%s factory:%s type:%s" for each. Raises at the first element without
  // "ObjectFactory" (WrongConfigurationException "Unable to find module's object factory")
  // or whose library or function is missing; the descriptors read before it stay.
  void fillModuleFactoryList();
  // Replaces `out` with one new object per matching descriptor, in document order. The
  // first call reads the descriptors (a failure is reported at level 3 under "Unable to
  // initialize module factory"; they are never read again). A descriptor matches when its
  // type equals `type` without regard to case, or, with `wildcard`, when its type is empty.
  // A failure of a factory function passes to the caller; `out` then holds the objects
  // created before it.
  void createModules(ModuleList& out, const std::wstring& type, bool wildcard);

  const std::wstring& sectionName() const { return sectionName_; }
  const std::vector<ModuleDescriptor>& descriptors() const { return descriptors_; }
  ModuleHost& host() const { return host_; }

 private:
  std::shared_ptr<VModule> libraryFor(const std::wstring& name) const;

  std::wstring sectionName_;
  XmlDocument document_;
  pugi::xml_node section_;
  ModuleHost& host_;
  std::shared_ptr<VLibrary> library_;
  std::wstring libraryDirectory_;
  std::vector<ModuleDescriptor> descriptors_;
  bool descriptorsNotRead_ = true;
};

// The document used when the configuration file is missing or unreadable.
extern const wchar_t* const kDefaultModulesDocument;

}  // namespace Statistics
