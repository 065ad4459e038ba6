// The statistics modules' configuration file is read as the program reads it: any bytes
// either fail to load with the parser's reason or give a document whose section and
// "Module" elements are found without regard to case, names and attributes of any bytes
// (invalid UTF-8 included) coming back as wide text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/modules/xml_document.h"
#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"

namespace {

// Walks `section` as the module factory does, without loading what it names.
void readSection(const pugi::xml_node& root) {
  const pugi::xml_node section = xmlChild(root, L"web");
  if (section && !text::equalsNoCase(xmlName(section), L"Web")) std::abort();
  for (pugi::xml_node element : section.children()) {
    if (!xmlNameIs(element, L"module")) continue;
    if (element.type() != pugi::node_element) std::abort();
    (void)xmlAttribute(element, "Library");
    (void)xmlAttribute(element, "ObjectFactory");
    (void)xmlAttribute(element, "ObjectType");
  }
  (void)xmlChild(section, L"Factory");
}

const std::string& fileName() {
  static const std::string name = "/tmp/fuzz_module_configuration." + std::to_string(getpid()) + ".modules";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As a file, in whatever encoding it declares or its bytes show.
  if (FILE* f = std::fopen(fileName().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
      XmlDocument document = vxmlLoad(text::fromAnsi(fileName()), true, false);
      readSection(document->document_element());
    } catch (const vexception&) {
    }
    std::remove(fileName().c_str());
  }
  // As text handed in by the program (the built-in document's way), whose failure names
  // its line.
  const std::wstring text = text::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    XmlDocument document = vxmlLoadXML(text);
    readSection(document->document_element());
  } catch (const vexception& e) {
    if (e.message().find(L" in line ") == std::wstring::npos) std::abort();
  }
  return 0;
}
