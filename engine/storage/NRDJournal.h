// Crash-safe change sets of a database file: a write batch that holds every write and size change
// of one change set in memory, and the rollback journal through which the batch reaches the file.
//
// Protocol of one change set (TNRDJournal::Apply):
//   1. The journal "<file>-journal" is written: the file's size before the change set and the
//      before-image of every byte range the change set writes, or cuts off by shrinking the file,
//      except the data areas of pages the committing transaction took from the free space (nothing
//      in the old file refers to them; TNRDWriteBatch::SkipBeforeImage). It is synced (with its
//      folder) before the database file is touched.
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
// A change set too large to hold in memory (a big transaction that spills its pages) uses the
// journal of TNRDSpillJournal instead: it is opened when the first part goes to the file and grows
// with each part. Before the part's bytes overwrite the file, the before-images of the original
// bytes it changes that are not yet in the journal are appended and the journal is synced; so every
// byte of the file that differs from the original has its before-image in the synced journal. The
// file is synced and the journal deleted when the change set ends (its commit point), or the
// before-images are written back when it is rolled back. Layout (little-endian):
//   0   8  magic "NRDJRNL2"
//   8   8  file size before the change set (i64)
//  16   8  salt: random, repeated in the checksum of every record
//  24   4  CRC-32 of bytes 0..23
//  28   4  zero
//  32      records, each: offset i64, length u32, CRC-32 u32 of (salt, offset, length, bytes), bytes
// Recovery rolls back every record up to the first that is incomplete or fails its checksum (the
// unsynced tail of a journal cut while growing: the bytes those records describe were not yet
// written to the file), then restores the old size.
//
// Everything raises ENRDException; the native file layer never throws.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
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
  // The bytes [pos, pos + count) hold nothing that the file as it was before the change set refers
  // to (the data area of a page the committing transaction took from the free space): after a
  // rollback nobody reads them, so the journal keeps no before-image of them. The page header stays
  // journaled, so a rolled-back page shows its old header (a free or zero page) to every reader.
  void SkipBeforeImage(std::int64_t pos, std::int64_t count);
  // The ranges of SkipBeforeImage, merged: start -> end.
  const std::map<std::int64_t, std::int64_t>& SkippedBeforeImages() const { return FSkipped; }
  bool Empty() const { return FExtents.empty() && FLogicalSize == FOriginalSize && FMinSize == FOriginalSize; }

 private:
  bool FActive = false;
  std::int64_t FOriginalSize = 0;
  std::int64_t FMinSize = 0;
  std::int64_t FLogicalSize = 0;
  std::map<std::int64_t, std::vector<std::uint8_t>> FExtents;  // offset -> bytes
  std::map<std::int64_t, std::int64_t> FSkipped;               // start -> end, disjoint
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

// The journal of one change set that reaches the file in parts (see the head of this file). The
// caller holds the header lock from Start to Finish or RollBack, and brings every write of the
// change set through Apply.
class TNRDSpillJournal {
 public:
  TNRDSpillJournal(platform::FileSystem& fs, platform::NativeFile& file, bool sync);
  ~TNRDSpillJournal();
  TNRDSpillJournal(const TNRDSpillJournal&) = delete;
  TNRDSpillJournal& operator=(const TNRDSpillJournal&) = delete;

  // Creates the journal for the file as it is now and syncs it. 30369 when it cannot.
  void Start();
  // Brings one part of the change set to the file: missing before-images first (synced), then the
  // batch's writes and size changes (not synced). On a failure the file may hold part of the batch;
  // every byte it changed is covered by the journal. Raises 30369.
  void Apply(const TNRDWriteBatch& batch);
  // The commit point: the file is synced, the journal deleted. Raises 30369; the journal then stays
  // and the change set is rolled back by whoever takes the header lock next.
  void Finish();
  // Writes every before-image back, restores the old size, syncs and deletes the journal. Raises
  // 30375 when that fails (the journal stays for the next header-lock holder).
  void RollBack();
  // The bytes [pos, pos + count) as they were before the change set began (zero past its old end).
  bool ReadOriginal(void* buffer, std::int64_t count, std::int64_t pos);
  std::int64_t OriginalSize() const { return FOriginalSize; }
  // Bytes of before-images held in the journal.
  std::int64_t JournaledBytes() const { return FJournaledBytes; }

 private:
  struct TCovered {
    std::int64_t End;         // the interval [key, End) of the original file
    std::int64_t JournalPos;  // where its before-image starts in the journal
  };
  void AppendBeforeImage(std::int64_t start, std::int64_t end);
  platform::FileSystem& FFileSystem;
  platform::NativeFile& FFile;
  bool FSync;
  std::string FPath;
  std::unique_ptr<platform::NativeFile> FJournal;
  std::int64_t FOriginalSize = 0;
  std::uint64_t FSalt = 0;
  std::int64_t FEnd = 0;  // where the next record goes
  std::int64_t FJournaledBytes = 0;
  std::map<std::int64_t, TCovered> FCovered;  // disjoint intervals of the original file
};

}  // namespace nrd
