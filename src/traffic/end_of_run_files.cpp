#include "traffic/end_of_run_files.h"

#include "platform/files/vdirectory.h"
#include "platform/files/vfile.h"
#include "platform/files/vfilename.h"
#include "platform/report/console.h"
#include "platform/report/guard.h"

namespace {

// Paths of one or two characters are no log file: a drive, a stray separator.
bool isFilePath(const std::wstring& path) { return path.size() > 2; }

ContextRecord moveFailure(const std::wstring& path, const std::wstring& directory) {
  return VCTX(vformat(L"Move file '%s' to '%s'", path, directory), "statistics::moveFiles");
}

}  // namespace

void deleteFiles(const std::vector<std::wstring>& files) {
  for (const std::wstring& path : files) {
    if (!isFilePath(path)) continue;
    guard::report(0, VCTX(vformat(L"Delete log '%s'", path), "statistics::deleteFiles"), [&] {
      vreport(0, L"Delete file %s", path);
      removeFile(path, false);
    });
  }
}

void moveFiles(const std::vector<std::wstring>& files, const std::wstring& directory, bool verbose) {
  if (directory.empty()) return;
  bool ready = true;
  for (const std::wstring& path : files) {
    if (!isFilePath(path)) continue;
    if (ready && !VDirectory::exists(directory))
      ready = guard::report(0, moveFailure(path, directory), [&] { VDirectory::createDirectory(directory); });
    if (!ready) return;
    guard::report(0, moveFailure(path, directory), [&] {
      if (verbose) console::print(vformat(L"Save file %s to %s\n", path, directory));
      VFile::move(path, VFileName::combine(directory, VFileName::fileName(path)));
    });
  }
}
