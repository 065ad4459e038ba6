#pragma once
// Moving a file aside under a fresh name (statistics::backupFile, declared with the
// application object), and the same for an entry of a domain owner's directory.

#include <string>

class OwnerDirectory;

// Renames the entry `name` of `dir` as statistics::backupFile renames a path, without
// following a link; returns the back-up's name.
std::wstring backupFileIn(const OwnerDirectory& dir, const std::wstring& name);
