#include "platform/modules/xml_document.h"

#include <algorithm>

#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;

int lineOf(std::string_view text, ptrdiff_t offset) {
  const size_t end = std::min(text.size(), static_cast<size_t>(std::max<ptrdiff_t>(offset, 0)));
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(end), '\n'));
}

}  // namespace

XmlDocument vxmlLoad(const std::wstring& path, bool /*validate*/, bool /*resolve*/) {
  auto doc = std::make_shared<pugi::xml_document>();
  pugi::xml_parse_result r = doc->load_file(text::toAnsi(path).c_str(), kParseOptions, pugi::encoding_auto);
  if (!r) throw vexception(text::fromAnsi(r.description()) + L" at load " + path, VCTX(L"", "vxmlLoad"));
  return doc;
}

XmlDocument vxmlLoadXML(std::wstring_view xml) {
  auto doc = std::make_shared<pugi::xml_document>();
  const std::string utf8 = text::toUtf8(xml);
  pugi::xml_parse_result r = doc->load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  if (!r) {
    throw vexception(vformat(L"%s at load xml %s in line %d", text::fromAnsi(r.description()), std::wstring(xml),
                             lineOf(utf8, r.offset)),
                     VCTX(L"", "vxmlLoadXML"));
  }
  return doc;
}

std::wstring xmlName(const pugi::xml_node& node) { return text::fromUtf8(node.name()); }

bool xmlNameIs(const pugi::xml_node& node, std::wstring_view name) {
  return node.type() == pugi::node_element && text::equalsNoCase(xmlName(node), name);
}

pugi::xml_node xmlChild(const pugi::xml_node& parent, std::wstring_view name) {
  for (pugi::xml_node child : parent.children())
    if (xmlNameIs(child, name)) return child;
  return {};
}

std::wstring xmlAttribute(const pugi::xml_node& node, const char* name) {
  return text::fromUtf8(node.attribute(name).value());
}
