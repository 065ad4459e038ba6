#pragma once
// The web server's site settings as read from its metabase file: the children of the web
// service container (one per web site) with the properties the program reads. The file is
// XML, root element "W3SVC", one "Site" element per site:
//
//   <W3SVC>
//     <Site Id="1" ServerComment="Default Web Site" LogFileDirectory="%SystemDrive%/logs">
//       <Root Class="IIsWebVirtualDir" DefaultDoc="Default.htm,index.html"/>
//     </Site>
//   </W3SVC>
//
// "Id" is the site's name under the container (its number), the other attributes are the
// properties of the same names, "Root" is the site's child "Root" with its class. Element
// and attribute names are case-sensitive; other elements and attributes are ignored. A
// property that is absent is unset (not the same as empty). The parsed metabase owns its
// text and does not refer back to the file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The site's child "Root": its class and its default documents.
struct IIsRootDirectory {
  std::wstring className;
  std::optional<std::wstring> defaultDoc;
};

struct IIsSite {
  std::wstring name;  // "Id", as written
  std::optional<std::wstring> serverComment;
  std::optional<std::wstring> logFileDirectory;
  std::optional<IIsRootDirectory> root;
};

class IIsMetabase {
 public:
  // Parses the file's bytes (UTF-8, or UTF-16 with a byte-order mark). Text that is not
  // well-formed XML, or whose root element is not "W3SVC", raises a vexception naming the
  // fault and its byte offset (operation "IIsMetabase::parse"). A "Site" without "Id" is
  // no child of the container and is left out; of several "Root" children the first counts.
  static IIsMetabase parse(std::string_view xml);

  // The container's children in file order.
  const std::vector<IIsSite>& sites() const { return sites_; }
  // The first child named exactly `name`; null when there is none.
  const IIsSite* child(std::wstring_view name) const;

 private:
  std::vector<IIsSite> sites_;
};
