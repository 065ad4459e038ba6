#pragma once
// How a domain's directories are charged: the domain directory table maps each entry of a
// domain root (or of a subdomain root) to a component, and the scan adds every entry's size
// to its component. A domain keeps its subdomains in the container "subdomains" of its
// root; each subdomain is charged like a domain root, into the same record, while files
// lying loose in the container are not charged at all.
//
// The tree belongs to the domain's owner: below the path given, nothing is reached through
// a symbolic link (a link counts as itself), and the walk works on descriptors, so hostile
// names (line breaks, invalid UTF-8) and deep trees are read like any other.

#include <string>
#include <string_view>

#include "usage/disk_space_usage.h"

struct DomainDirectoryRow {
  const char* name;               // compared without regard to case
  DiskSpaceComponent component;  // null: the entry is skipped ("." and "..")
};

// The row of the first table entry named `name` (native bytes), null when the name is not
// in the table (such an entry counts as `httpdocs`).
const DomainDirectoryRow* findDomainDirectoryRow(std::string_view name);

// Adds the entries of the directory `path` to `record`. `vhostsRoot` is HTTPD_VHOSTS_D, the
// directory holding one root per domain (trailing separators ignored; paths compare
// without regard to case):
// - path is vhostsRoot/<domain>/"subdomains": a container, each of its subdirectories is
//   scanned as a root, its other entries are not counted;
// - otherwise every entry is charged to its table component, a directory by its tree size
//   and anything else by its own size; a table row without component reports "Skip %s".
//   In a domain root (directly under vhostsRoot) the entry "subdomains" is scanned as a
//   container instead.
// A missing directory adds and reports nothing; one that cannot be listed for another
// reason is warned about (level 1, "Unable to scan directory <path>/*.* : <system text>")
// and adds nothing. Never raises for the file system.
void scanDomainDirectory(const std::wstring& path, const std::wstring& vhostsRoot, DiskSpaceUsage& record);
