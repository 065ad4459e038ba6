#include "traffic/iis_metabase.h"

#include <pugixml.hpp>

#include <cstring>

#include "platform/report/vexception.h"
#include "platform/text/text_codec.h"
#include "platform/text/vformat.h"

namespace {

constexpr const char* kOperation = "IIsMetabase::parse";

std::optional<std::wstring> property(const pugi::xml_node& node, const char* name) {
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) return std::nullopt;
  return text::fromUtf8(attribute.value());
}

}  // namespace

IIsMetabase IIsMetabase::parse(std::string_view xml) {
  pugi::xml_document document;
  // No DOCTYPE handling: the file cannot pull in entities or other files.
  const pugi::xml_parse_result result = document.load_buffer(xml.data(), xml.size(), pugi::parse_default,
                                                             pugi::encoding_auto);
  if (!result)
    throw vexception(vformat(L"The metabase is not well-formed XML: %s at offset %lld",
                             text::fromUtf8(result.description()), static_cast<long long>(result.offset)),
                     VCTX(L"", kOperation));
  const pugi::xml_node container = document.document_element();
  if (std::strcmp(container.name(), "W3SVC") != 0)
    throw vexception(vformat(L"The metabase's root element is '%s', not 'W3SVC'", text::fromUtf8(container.name())),
                     VCTX(L"", kOperation));

  IIsMetabase metabase;
  for (pugi::xml_node node : container.children("Site")) {
    std::optional<std::wstring> name = property(node, "Id");
    if (!name) continue;
    IIsSite& site = metabase.sites_.emplace_back();
    site.name = std::move(*name);
    site.serverComment = property(node, "ServerComment");
    site.logFileDirectory = property(node, "LogFileDirectory");
    if (pugi::xml_node root = node.child("Root"))
      site.root = IIsRootDirectory{property(root, "Class").value_or(std::wstring()), property(root, "DefaultDoc")};
  }
  return metabase;
}

const IIsSite* IIsMetabase::child(std::wstring_view name) const {
  for (const IIsSite& site : sites_)
    if (site.name == name) return &site;
  return nullptr;
}
