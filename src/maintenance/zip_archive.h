#pragma once
// One-entry zip archives of rotated logs, written through descriptors the caller has opened
// (so that no name is looked up twice in a directory its owner controls) and read back
// before the caller lets the original go.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/dates/vdatetime.h"

namespace ziparchive {

// What was put into an archive's entry.
struct EntryDigest {
  uint64_t size = 0;
  uint32_t crc = 0;
};

// Writes into `archiveFd` (an empty file open for reading and writing) a zip archive of one
// entry named `entryName` (system bytes, no directory) with the content of `sourceFd` from
// its current position to its end, read in chunks of 51200 bytes and deflated at the
// default level; the entry's modification date is `modified` (all zero when it is not a
// valid time). `keepGoing` is asked before each chunk; false stops the copy. The archive is
// flushed to the disk before returning. Fills `digest` with the size and CRC-32 of what was
// read. False on any failure of reading, compressing or writing and when stopped; what was
// written then is garbage for the caller to remove.
bool writeSingleEntry(int archiveFd, const std::string& entryName, const VDateTime& modified, int sourceFd,
                      EntryDigest& digest, const std::function<bool()>& keepGoing);

// Reads the archive of `archiveFd` back: true when it holds exactly one entry named
// `entryName` whose content decompresses to `digest.size` bytes with the CRC-32
// `digest.crc`, as the entry's own header states too.
bool verifySingleEntry(int archiveFd, const std::string& entryName, const EntryDigest& digest);

}  // namespace ziparchive
