#include "maintenance/zip_archive.h"

#include <errno.h>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <vector>

namespace {

constexpr size_t kChunkSize = 51200;
// Entries of this size or more need the 64-bit extensions of the format.
constexpr uint64_t kZip64Threshold = 0xffffffffu;

// The stream minizip reads and writes: a descriptor with a position of its own, so that
// the archive is never opened by name.
struct DescriptorStream {
  int fd = -1;
  uint64_t position = 0;
  bool failed = false;
};

voidpf ZCALLBACK openStream(voidpf, const void* stream, int) { return const_cast<void*>(stream); }

uLong ZCALLBACK readStream(voidpf, voidpf opaque, void* buffer, uLong size) {
  auto* s = static_cast<DescriptorStream*>(opaque);
  uLong done = 0;
  while (done < size) {
    ssize_t n = ::pread(s->fd, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(s->position));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) s->failed = true;
    if (n <= 0) break;
    done += static_cast<uLong>(n);
    s->position += static_cast<uint64_t>(n);
  }
  return done;
}

uLong ZCALLBACK writeStream(voidpf, voidpf opaque, const void* buffer, uLong size) {
  auto* s = static_cast<DescriptorStream*>(opaque);
  uLong done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(s->fd, static_cast<const char*>(buffer) + done, size - done, static_cast<off_t>(s->position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      s->failed = true;
      break;
    }
    done += static_cast<uLong>(n);
    s->position += static_cast<uint64_t>(n);
  }
  return done;
}

ZPOS64_T ZCALLBACK tellStream(voidpf, voidpf opaque) { return static_cast<DescriptorStream*>(opaque)->position; }

long ZCALLBACK seekStream(voidpf, voidpf opaque, ZPOS64_T offset, int origin) {
  auto* s = static_cast<DescriptorStream*>(opaque);
  uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      base = 0;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = s->position;
      break;
    case ZLIB_FILEFUNC_SEEK_END: {
      struct stat st;
      if (::fstat(s->fd, &st) != 0) return -1;
      base = static_cast<uint64_t>(st.st_size);
      break;
    }
    default:
      return -1;
  }
  s->position = base + offset;
  return 0;
}

// The descriptor belongs to the caller.
int ZCALLBACK closeStream(voidpf, voidpf) { return 0; }

int ZCALLBACK streamError(voidpf, voidpf opaque) { return static_cast<DescriptorStream*>(opaque)->failed ? 1 : 0; }

zlib_filefunc64_def descriptorFunctions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = openStream;
  functions.zread_file = readStream;
  functions.zwrite_file = writeStream;
  functions.ztell64_file = tellStream;
  functions.zseek64_file = seekStream;
  functions.zclose_file = closeStream;
  functions.zerror_file = streamError;
  functions.opaque = nullptr;
  return functions;
}

tm_zip zipTime(const VDateTime& t) {
  tm_zip out{};
  if (!t.isValid()) return out;
  out.tm_sec = static_cast<uInt>(t.second);
  out.tm_min = static_cast<uInt>(t.minute);
  out.tm_hour = static_cast<uInt>(t.hour);
  out.tm_mday = static_cast<uInt>(t.day);
  out.tm_mon = static_cast<uInt>(t.month - 1);
  out.tm_year = static_cast<uInt>(t.year);
  return out;
}

// Copies the source into the open entry; false on a read or write failure.
bool copyInto(zipFile zip, int sourceFd, ziparchive::EntryDigest& digest, const std::function<bool()>& keepGoing) {
  std::vector<char> chunk(kChunkSize);
  uLong crc = crc32(0L, Z_NULL, 0);
  for (;;) {
    if (!keepGoing()) return false;
    ssize_t n = ::read(sourceFd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    const auto length = static_cast<unsigned>(n);
    if (zipWriteInFileInZip(zip, chunk.data(), length) != ZIP_OK) return false;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), length);
    digest.size += length;
  }
  digest.crc = static_cast<uint32_t>(crc);
  return true;
}

}  // namespace

namespace ziparchive {

bool writeSingleEntry(int archiveFd, const std::string& entryName, const VDateTime& modified, int sourceFd,
                      EntryDigest& digest, const std::function<bool()>& keepGoing) {
  digest = EntryDigest{};
  struct stat source;
  if (::fstat(sourceFd, &source) != 0) return false;
  DescriptorStream stream{archiveFd};
  zlib_filefunc64_def functions = descriptorFunctions();
  zipFile zip = zipOpen2_64(&stream, APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zip) return false;
  zip_fileinfo info{};
  info.tmz_date = zipTime(modified);
  const int zip64 = static_cast<uint64_t>(source.st_size) >= kZip64Threshold ? 1 : 0;
  bool ok = zipOpenNewFileInZip64(zip, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, zip64) == ZIP_OK;
  if (ok) {
    ok = copyInto(zip, sourceFd, digest, keepGoing);
    ok = zipCloseFileInZip(zip) == ZIP_OK && ok;
  }
  ok = zipClose(zip, nullptr) == ZIP_OK && ok;
  return ok && !stream.failed && ::fsync(archiveFd) == 0;
}

bool verifySingleEntry(int archiveFd, const std::string& entryName, const EntryDigest& digest) {
  DescriptorStream stream{archiveFd};
  zlib_filefunc64_def functions = descriptorFunctions();
  unzFile zip = unzOpen2_64(&stream, &functions);
  if (!zip) return false;
  bool ok = false;
  unz_global_info64 global{};
  unz_file_info64 entry{};
  std::vector<char> name(entryName.size() + 2);
  if (unzGetGlobalInfo64(zip, &global) == UNZ_OK && global.number_entry == 1 && unzGoToFirstFile(zip) == UNZ_OK &&
      unzGetCurrentFileInfo64(zip, &entry, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) ==
          UNZ_OK &&
      entry.size_filename == entryName.size() && std::string(name.data()) == entryName &&
      entry.uncompressed_size == digest.size && entry.crc == digest.crc && unzOpenCurrentFile(zip) == UNZ_OK) {
    std::vector<char> chunk(kChunkSize);
    uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    int n = 0;
    while ((n = unzReadCurrentFile(zip, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0) {
      crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(n));
      total += static_cast<uint64_t>(n);
    }
    // Closing after the whole entry was read checks the CRC the archive itself holds.
    const int closed = unzCloseCurrentFile(zip);
    ok = n == 0 && closed == UNZ_OK && total == digest.size && static_cast<uint32_t>(crc) == digest.crc;
  }
  unzClose(zip);
  return ok && !stream.failed;
}

}  // namespace ziparchive
