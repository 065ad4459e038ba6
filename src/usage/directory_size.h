#pragma once
// The size of a directory tree by path, as the disk-usage task measures the directories it
// knows by name (a domain's Tomcat applications). See usage/directory_walk.h for how the
// tree is read: links count as themselves and are never followed below the path itself.

#include <cstdint>
#include <string>

// The total logical size in bytes of every entry that is not a directory below `path`;
// 0 when the directory cannot be listed. Nothing is reported.
int64_t getDirectorySize(const std::wstring& path);
