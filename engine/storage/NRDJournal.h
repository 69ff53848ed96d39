// Crash-safe change sets of a database file: a write batch that holds every write and size change
// of one change set in memory, and the rollback journal through which the batch reaches the file.
//
// Protocol of one change set (TNRDJournal::Apply):
//   1. The journal "<file>-journal" is written: the file's size before the change set and the
//      before-image of every byte range the change set writes, or cuts off by shrinking the file.
//      It is synced (with its folder) before the database file is touched.
//   2. The batch's writes and size changes go to the database file, which is synced.
//   3. The journal is deleted: this is the moment the change set becomes permanent.
// A journal found beside the file by whoever holds the header lock belongs to a writer that is gone
// (a live writer holds the header lock for the whole change set): Recover writes its before-images
// back, restores the old size, syncs and deletes it. A journal that is incomplete or damaged (its
// checksum fails) was cut while being written, before the database file was touched, and is deleted
// without effect; one that validates is always rolled back, however large against the file. Both
// directions stream in pieces of 1 MB: a change set is never held twice in memory. The database
// file format is not changed by any of this.
//
// Journal layout (little-endian):
//   0   8  magic "NRDJRNL1"
//   8   8  file size before the change set (i64)
//  16   4  region count (u32)
//  20   4  zero
//  24      regions: offset i64, length u32, length bytes of before-image
//   ...  4  CRC-32 (start 0) of every byte before it
//   ...  8  magic "NRDJEND1"
//
// Everything raises ENRDException; the native file layer never throws.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/NativeFile.h"

namespace nrd {

// The pending writes and size changes of one change set. Reads of the file see them through
// Overlay. Extents never overlap; overlapping writes merge, adjacent ones stay apart.
class TNRDWriteBatch {
 public:
  void Begin(std::int64_t originalSize);
  void Clear();
  bool Active() const { return FActive; }

  void Write(const void* buffer, std::int64_t count, std::int64_t pos);
  void SetSize(std::int64_t newSize);
  std::int64_t Size() const { return FLogicalSize; }
  std::int64_t OriginalSize() const { return FOriginalSize; }
  // The smallest size the file had during the change set: bytes between it and the original size
  // read as zero unless written again.
  std::int64_t MinSize() const { return FMinSize; }
  // Puts the batch's view over `buffer`, which holds the file's bytes [pos, pos + count) as stored.
  void Overlay(void* buffer, std::int64_t count, std::int64_t pos) const;
  const std::map<std::int64_t, std::vector<std::uint8_t>>& Extents() const { return FExtents; }
  bool Empty() const { return FExtents.empty() && FLogicalSize == FOriginalSize && FMinSize == FOriginalSize; }

 private:
  bool FActive = false;
  std::int64_t FOriginalSize = 0;
  std::int64_t FMinSize = 0;
  std::int64_t FLogicalSize = 0;
  std::map<std::int64_t, std::vector<std::uint8_t>> FExtents;  // offset -> bytes
};

struct TNRDJournalRegion {
  std::int64_t Offset = 0;
  std::vector<std::uint8_t> Bytes;
};

class TNRDJournal {
 public:
  // "<file>-journal" beside the file, with the file's path resolved (links, "..") so that every
  // opener finds the same journal whatever path it opened the file by.
  static std::string JournalPath(const std::string& databaseFileName);

  // Writes the batch to the file through the journal (protocol above). On a failure after the file
  // was touched the before-images are written back at once; if even that fails the journal stays
  // for the next header-lock holder. Raises 30369 (journal) or the file layer's error text.
  static void Apply(platform::FileSystem& fs, platform::NativeFile& file, const TNRDWriteBatch& batch, bool sync);

  // Rolls back a journal left by a writer that is gone. Returns true when a journal was there (and
  // is now gone). The caller must hold the header lock. 30375 when the file cannot be written.
  static bool Recover(platform::FileSystem& fs, platform::NativeFile& file, bool sync);

  // The journal's content; false when it is incomplete or damaged.
  static bool Parse(const std::vector<std::uint8_t>& bytes, std::int64_t& originalSize,
                    std::vector<TNRDJournalRegion>& regions);
  static std::vector<std::uint8_t> Build(std::int64_t originalSize, const std::vector<TNRDJournalRegion>& regions);
};

}  // namespace nrd
