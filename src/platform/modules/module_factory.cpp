#include "platform/modules/module_factory.h"

#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/text/text_codec.h"

namespace Statistics {

namespace {

// Libraries named without a directory are looked for where the configuration file lies, as
// the system's loader looks beside the program first.
std::wstring libraryPath(const std::wstring& directory, const std::wstring& name) {
  if (directory.empty() || name.starts_with(L"/")) return name;
  return VFileName::combine(directory, name);
}

}  // namespace

const wchar_t* const kDefaultModulesDocument =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?><Configuration>  <Web /></Configuration>";

ModuleFactory::ModuleFactory(std::wstring sectionName, XmlDocument document, pugi::xml_node section, ModuleHost& host,
                             std::shared_ptr<VLibrary> library, std::wstring libraryDirectory)
    : sectionName_(std::move(sectionName)),
      document_(std::move(document)),
      section_(section),
      host_(host),
      library_(std::move(library)),
      libraryDirectory_(std::move(libraryDirectory)) {}

// The descriptors, and with them the libraries, go before the factory's own library.
ModuleFactory::~ModuleFactory() { descriptors_.clear(); }

std::shared_ptr<ModuleFactory> ModuleFactory::fromXMLFile(const std::wstring& path, const std::wstring& section,
                                                          ModuleHost& host) {
  XmlDocument document;
  if (VFile::exists(path)) {
    try {
      document = vxmlLoad(path, true, false);
    } catch (...) {
      guard::reportCurrent(3, VCTX(L"Unable to read config file: " + path, "Statistics::ModuleFactory::fromXMLFile"));
    }
  }
  std::wstring libraryDirectory;
  if (document) {
    libraryDirectory = VFileName::directory(path);
  } else {
    document = vxmlLoadXML(kDefaultModulesDocument);
  }
  pugi::xml_node sectionElement = xmlChild(document->document_element(), section);
  return fromXMLElement(document, sectionElement, section, host, libraryDirectory);
}

std::shared_ptr<ModuleFactory> ModuleFactory::fromXMLElement(XmlDocument document, pugi::xml_node section,
                                                             const std::wstring& sectionName, ModuleHost& host,
                                                             const std::wstring& libraryDirectory) {
  const std::wstring name = section ? xmlName(section) : sectionName;
  pugi::xml_node factory = xmlChild(section, L"Factory");
  if (!factory) return std::make_shared<ModuleFactory>(name, document, section, host, nullptr, libraryDirectory);

  const std::wstring libraryName = xmlAttribute(factory, "Library");
  const std::wstring function = xmlAttribute(factory, "ObjectFactory");
  if (function.empty()) {
    throw WrongConfigurationException(L"Unable to find factory's object factory",
                                      VCTX(L"", "Statistics::ModuleFactory::fromXMLElement"));
  }
  std::shared_ptr<VLibrary> library;
  void* address = nullptr;
  if (!libraryName.empty()) {
    library = std::make_shared<VLibrary>(libraryPath(libraryDirectory, libraryName));
    address = VModule::getProcAddress(*library, text::toAnsi(function));
  } else {
    address = VModule::getProcAddress(VModule::self(), text::toAnsi(function));
  }
  auto make = reinterpret_cast<SectionFactoryFunction>(address);
  ModuleFactory* made = make(name, document, factory, std::move(library), host);
  if (!made) {
    throw WrongConfigurationException(L"Unable to create factory " + function,
                                      VCTX(L"", "Statistics::ModuleFactory::fromXMLElement"));
  }
  return std::shared_ptr<ModuleFactory>(made);
}

std::shared_ptr<VModule> ModuleFactory::libraryFor(const std::wstring& name) const {
  if (name.empty()) return std::make_shared<VModule>(VModule::self());
  return std::make_shared<VLibrary>(libraryPath(libraryDirectory_, name));
}

void ModuleFactory::fillModuleFactoryList() {
  for (pugi::xml_node element : section_.children()) {
    if (!xmlNameIs(element, L"Module")) continue;
    const std::wstring libraryName = xmlAttribute(element, "Library");
    const std::wstring function = xmlAttribute(element, "ObjectFactory");
    const std::wstring type = xmlAttribute(element, "ObjectType");
    if (function.empty()) {
      throw WrongConfigurationException(L"Unable to find module's object factory",
                                        VCTX(L"", "Statistics::ModuleFactory::fillModuleFactoryList"));
    }
    ModuleDescriptor descriptor;
    descriptor.library = libraryFor(libraryName);
    descriptor.factory =
        reinterpret_cast<ModuleFactoryFunction>(VModule::getProcAddress(*descriptor.library, text::toAnsi(function)));
    descriptor.type = type;
    descriptor.element = element;
    descriptors_.push_back(std::move(descriptor));
    vreport(0, L"Module library:%s factory:%s type:%s", libraryName, function, type);
  }
}

void ModuleFactory::createModules(ModuleList& out, const std::wstring& type, bool wildcard) {
  if (descriptorsNotRead_) {
    descriptorsNotRead_ = false;
    guard::report(3, VCTX(L"Unable to initialize module factory", "Statistics::ModuleFactory::createModules"),
                  [&] { fillModuleFactoryList(); });
  }
  out.clear();
  for (const ModuleDescriptor& d : descriptors_) {
    const bool matches = (wildcard && d.type.empty()) || text::equalsNoCase(d.type, type);
    if (!matches) continue;
    if (Module* module = d.factory(host_, d.type.c_str())) out.emplace_back(d.library, module);
  }
}

}  // namespace Statistics
