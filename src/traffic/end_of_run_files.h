#pragma once
// The log files a run is done with: shared log files (the default web site's, the FTP
// server's) that have expired are listed while the directories are walked, and deleted or
// moved into the save directory of their kind at the end of the run, after the analysers
// have read what they needed.

#include <string>
#include <vector>

struct EndOfRunFiles {
  std::vector<std::wstring> deleteList;
  std::vector<std::wstring> ftpSaveList;
  std::vector<std::wstring> httpSaveList;
  std::vector<std::wstring> mailSaveList;
};

// Deletes each file of `files` whose path is longer than two characters, reporting "Delete
// file %s" at level 0; a failure is reported at level 0 under "Delete log '<path>'"
// (operation "statistics::deleteFiles") and the next file follows. A file already gone
// counts as deleted.
void deleteFiles(const std::vector<std::wstring>& files);

// Moves each file of `files` whose path is longer than two characters into `directory`
// under its own name, printing "Save file %s to %s\n" in verbose mode; the directory is
// created when missing. Nothing happens when `directory` is empty. A failed move is
// reported at level 0 under "Move file '<path>' to '<directory>'" (operation
// "statistics::moveFiles") and the next file follows; a directory that cannot be created is
// reported the same way for the first file and nothing is moved. An existing file of the
// same name in `directory` is not replaced: that move fails.
void moveFiles(const std::vector<std::wstring>& files, const std::wstring& directory, bool verbose);
