#pragma once
// XML documents of the program's own configuration files (pugixml). A loaded document is
// shared: nodes taken from it stay valid while any holder keeps the document.
//
// Parsing never resolves external entities and never reads a DTD (pugixml has neither), so
// a document cannot make the program open other files.

#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

using XmlDocument = std::shared_ptr<pugi::xml_document>;

// Loads the file `path`. A failed load raises vexception "<parser reason> at load <path>"
// (operation "vxmlLoad"). `validate` and `resolve` are accepted for the callers' sake; the
// parser validates well-formedness only and never resolves external references.
XmlDocument vxmlLoad(const std::wstring& path, bool validate, bool resolve);
// Parses `xml`. A failure raises "<reason> at load xml <text> in line <n>" (operation
// "vxmlLoadXML"), n counted from 1.
XmlDocument vxmlLoadXML(std::wstring_view xml);

// The element's name as wide text (names are UTF-8 in the document).
std::wstring xmlName(const pugi::xml_node& node);
// Whether the element is named `name` without regard to case.
bool xmlNameIs(const pugi::xml_node& node, std::wstring_view name);
// The first child element named `name` without regard to case; an empty node when none.
pugi::xml_node xmlChild(const pugi::xml_node& parent, std::wstring_view name);
// The attribute's value as wide text; empty when absent. Attribute names are taken as
// written.
std::wstring xmlAttribute(const pugi::xml_node& node, const char* name);
