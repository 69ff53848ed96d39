#include "engine/storage/NRDJournal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "engine/foundation/NRDByteOrder.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"

namespace nrd {

namespace {

constexpr char kMagic[8] = {'N', 'R', 'D', 'J', 'R', 'N', 'L', '1'};
constexpr char kEndMagic[8] = {'N', 'R', 'D', 'J', 'E', 'N', 'D', '1'};
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kTrailerSize = 12;
// Before-images are stored in pieces of at most this many bytes.
constexpr std::int64_t kMaxRegion = 64 * 1024 * 1024;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  std::uint8_t bytes[4];
  PutLE32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

void PutI64(std::vector<std::uint8_t>& out, std::int64_t value) {
  std::uint8_t bytes[8];
  PutLE64(bytes, static_cast<std::uint64_t>(value));
  out.insert(out.end(), bytes, bytes + 8);
}

// Pieces read and written at a time: the journal never holds a change set in memory.
constexpr std::int64_t kChunk = 1 << 20;

// Reads `count` bytes at `pos` of the journal (a file, or bytes in memory for Parse).
using TReadAt = std::function<bool(void* buffer, std::int64_t count, std::int64_t pos)>;

// Checks a journal of `size` bytes: magics, checksum and region table. Calls `region` (offset,
// length, position of the bytes in the journal) for every region when all is sound; false when the
// journal is incomplete or damaged (nothing is called then).
bool Validate(const TReadAt& read, std::int64_t size, std::int64_t& originalSize,
              const std::function<bool(std::int64_t, std::int64_t, std::int64_t)>& region) {
  if (size < static_cast<std::int64_t>(kHeaderSize + kTrailerSize)) return false;
  std::uint8_t head[kHeaderSize];
  std::uint8_t tail[kTrailerSize];
  const std::int64_t crcAt = size - static_cast<std::int64_t>(kTrailerSize);
  if (!read(head, kHeaderSize, 0) || !read(tail, kTrailerSize, crcAt)) return false;
  if (std::memcmp(head, kMagic, 8) != 0 || std::memcmp(tail + 4, kEndMagic, 8) != 0) return false;
  std::vector<std::uint8_t> chunk;
  std::uint32_t crc = 0;
  for (std::int64_t p = 0; p < crcAt; p += kChunk) {
    const std::int64_t n = std::min(kChunk, crcAt - p);
    chunk.resize(static_cast<std::size_t>(n));
    if (!read(chunk.data(), n, p)) return false;
    crc = CalcCRC32(crc, chunk.data(), n);
  }
  if (GetLE32(tail) != crc) return false;
  originalSize = static_cast<std::int64_t>(GetLE64(head + 8));
  const std::uint32_t count = GetLE32(head + 16);
  if (originalSize < 0) return false;
  // The region table first, then the regions: nothing is handed out from a journal that fails.
  std::vector<std::array<std::int64_t, 3>> regions;
  std::int64_t p = kHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t rh[12];
    if (crcAt - p < 12 || !read(rh, 12, p)) return false;
    const std::int64_t offset = static_cast<std::int64_t>(GetLE64(rh));
    const std::int64_t length = GetLE32(rh + 8);
    p += 12;
    if (length > crcAt - p || offset < 0 || offset > originalSize - length) return false;
    regions.push_back({offset, length, p});
    p += length;
  }
  if (p != crcAt) return false;
  for (const auto& r : regions) {
    if (!region(r[0], r[1], r[2])) return false;
  }
  return true;
}

[[noreturn]] void RaiseFile(int code, const char* what, const std::string& path, int error) {
  throw ENRDException(code, "%s '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {what, path, error, platform::SystemErrorMessage(error)});
}

// Merged intervals [start, end) of the original file that the batch changes and whose
// before-image is wanted (the batch's skipped ranges left out).
std::vector<std::pair<std::int64_t, std::int64_t>> ChangedIntervals(const TNRDWriteBatch& batch) {
  std::vector<std::pair<std::int64_t, std::int64_t>> intervals;
  const std::int64_t original = batch.OriginalSize();
  for (const auto& [offset, bytes] : batch.Extents()) {
    const std::int64_t end = std::min<std::int64_t>(offset + static_cast<std::int64_t>(bytes.size()), original);
    if (offset < end) intervals.emplace_back(offset, end);
  }
  if (batch.MinSize() < original) intervals.emplace_back(batch.MinSize(), original);
  std::sort(intervals.begin(), intervals.end());
  std::vector<std::pair<std::int64_t, std::int64_t>> merged;
  for (const auto& iv : intervals) {
    if (!merged.empty() && iv.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, iv.second);
    } else {
      merged.push_back(iv);
    }
  }
  const auto& skipped = batch.SkippedBeforeImages();
  if (skipped.empty()) return merged;
  std::vector<std::pair<std::int64_t, std::int64_t>> wanted;
  for (auto [start, end] : merged) {
    auto it = skipped.upper_bound(start);
    if (it != skipped.begin() && std::prev(it)->second > start) --it;
    for (; start < end && it != skipped.end() && it->first < end; ++it) {
      if (it->first > start) wanted.emplace_back(start, it->first);
      start = std::max(start, it->second);
    }
    if (start < end) wanted.emplace_back(start, end);
  }
  return wanted;
}

// Writes the before-images of a sound journal back and restores the file's size. False when the
// journal does not validate (then nothing was written) or a write fails.
bool RollBack(platform::NativeFile& journal, platform::NativeFile& file, bool sync, bool& valid) {
  std::int64_t size = 0;
  valid = false;
  if (!journal.GetSize(size)) return false;
  const TReadAt read = [&](void* b, std::int64_t n, std::int64_t pos) { return journal.Read(b, n, pos); };
  std::int64_t originalSize = 0;
  if (!Validate(read, size, originalSize, [](std::int64_t, std::int64_t, std::int64_t) { return true; })) return true;
  valid = true;
  std::vector<std::uint8_t> chunk;
  const bool written = Validate(read, size, originalSize, [&](std::int64_t offset, std::int64_t length, std::int64_t at) {
    for (std::int64_t done = 0; done < length; done += kChunk) {
      const std::int64_t n = std::min(kChunk, length - done);
      chunk.resize(static_cast<std::size_t>(n));
      if (!journal.Read(chunk.data(), n, at + done) || !file.Write(chunk.data(), n, offset + done)) return false;
    }
    return true;
  });
  if (!written || !file.SetSize(originalSize)) return false;
  return !sync || file.Flush();
}


// Writes the batch's size changes and extents to the file. Adjacent extents (pages written in a
// row) go out in runs of up to 1 MB.
bool WriteBatchToFile(platform::NativeFile& file, const TNRDWriteBatch& batch) {
  bool applied = true;
  if (batch.MinSize() < batch.OriginalSize()) applied = file.SetSize(batch.MinSize());
  constexpr std::size_t kRun = 1 << 20;
  std::vector<std::uint8_t> run;
  std::int64_t runStart = 0;
  auto flushRun = [&] {
    if (applied && !run.empty()) applied = file.Write(run.data(), static_cast<std::int64_t>(run.size()), runStart);
    run.clear();
  };
  for (auto it = batch.Extents().begin(); applied && it != batch.Extents().end(); ++it) {
    const bool joins = !run.empty() && runStart + static_cast<std::int64_t>(run.size()) == it->first &&
                       run.size() + it->second.size() <= kRun;
    if (!joins) {
      flushRun();
      runStart = it->first;
    }
    run.insert(run.end(), it->second.begin(), it->second.end());
  }
  flushRun();
  std::int64_t size = 0;
  if (applied) applied = file.GetSize(size);
  if (applied && size != batch.Size()) applied = file.SetSize(batch.Size());
  return applied;
}

constexpr char kSpillMagic[8] = {'N', 'R', 'D', 'J', 'R', 'N', 'L', '2'};
constexpr std::int64_t kSpillHeaderSize = 32;
constexpr std::int64_t kSpillRecordHead = 16;

std::uint32_t SpillRecordCRC(std::uint64_t salt, const std::uint8_t* head12, const std::uint8_t* bytes, std::int64_t n) {
  std::uint8_t s[8];
  PutLE64(s, salt);
  std::uint32_t crc = CalcCRC32(0, s, 8);
  crc = CalcCRC32(crc, head12, 12);
  return n > 0 ? CalcCRC32(crc, bytes, n) : crc;
}

// Rolls back a journal of a change set that reached the file in parts: every record up to the
// first bad one, then the old size. `valid` tells whether the header was sound (else nothing was
// written to the file before the journal was cut, and nothing is done).
bool RollBackSpill(platform::NativeFile& journal, platform::NativeFile& file, bool& valid) {
  valid = false;
  std::int64_t size = 0;
  if (!journal.GetSize(size)) return false;
  std::uint8_t head[kSpillHeaderSize];
  if (size < kSpillHeaderSize || !journal.Read(head, kSpillHeaderSize, 0)) return true;
  if (std::memcmp(head, kSpillMagic, 8) != 0 || GetLE32(head + 24) != CalcCRC32(0, head, 24)) return true;
  const auto originalSize = static_cast<std::int64_t>(GetLE64(head + 8));
  const std::uint64_t salt = GetLE64(head + 16);
  if (originalSize < 0) return true;
  valid = true;
  std::vector<std::uint8_t> bytes;
  for (std::int64_t p = kSpillHeaderSize; size - p >= kSpillRecordHead;) {
    std::uint8_t rh[kSpillRecordHead];
    if (!journal.Read(rh, kSpillRecordHead, p)) return false;
    const auto offset = static_cast<std::int64_t>(GetLE64(rh));
    const std::int64_t length = GetLE32(rh + 8);
    if (length > kChunk || length > size - p - kSpillRecordHead || offset < 0 || offset > originalSize - length) break;
    bytes.resize(static_cast<std::size_t>(length));
    if (!journal.Read(bytes.data(), length, p + kSpillRecordHead)) return false;
    if (SpillRecordCRC(salt, rh, bytes.data(), length) != GetLE32(rh + 12)) break;
    if (!file.Write(bytes.data(), length, offset)) return false;
    p += kSpillRecordHead + length;
  }
  return file.SetSize(originalSize) && file.Flush();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TNRDWriteBatch

void TNRDWriteBatch::Begin(std::int64_t originalSize) {
  FExtents.clear();
  FSkipped.clear();
  FOriginalSize = FMinSize = FLogicalSize = originalSize;
  FActive = true;
}

void TNRDWriteBatch::Clear() {
  FExtents.clear();
  FSkipped.clear();
  FActive = false;
}

void TNRDWriteBatch::SkipBeforeImage(std::int64_t pos, std::int64_t count) {
  if (count <= 0 || pos < 0) return;
  std::int64_t start = pos;
  std::int64_t end = pos + count;
  // Ranges that overlap or touch [start, end) merge with it.
  auto it = FSkipped.upper_bound(start);
  if (it != FSkipped.begin() && std::prev(it)->second >= start) --it;
  while (it != FSkipped.end() && it->first <= end) {
    start = std::min(start, it->first);
    end = std::max(end, it->second);
    it = FSkipped.erase(it);
  }
  FSkipped.emplace(start, end);
}

void TNRDWriteBatch::Write(const void* buffer, std::int64_t count, std::int64_t pos) {
  if (count <= 0) return;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  FLogicalSize = std::max(FLogicalSize, pos + count);
  // The common case, a page written again: the extent is overwritten in place.
  auto same = FExtents.find(pos);
  if (same != FExtents.end() && static_cast<std::int64_t>(same->second.size()) >= count) {
    std::memcpy(same->second.data(), bytes, static_cast<std::size_t>(count));
    return;
  }
  // Extents that overlap [pos, end) merge with it into one; merely adjacent ones stay apart, so
  // that writing many pages in a row costs no copying of what was written before.
  std::int64_t start = pos;
  std::int64_t end = pos + count;
  auto first = FExtents.lower_bound(pos);
  if (first != FExtents.begin()) {
    auto prev = std::prev(first);
    if (prev->first + static_cast<std::int64_t>(prev->second.size()) > pos) first = prev;
  }
  auto last = first;
  while (last != FExtents.end() && last->first < end) {
    start = std::min(start, last->first);
    end = std::max(end, last->first + static_cast<std::int64_t>(last->second.size()));
    ++last;
  }
  if (first == last) {
    FExtents.emplace_hint(first, pos, std::vector<std::uint8_t>(bytes, bytes + count));
    return;
  }
  std::vector<std::uint8_t> merged(static_cast<std::size_t>(end - start));
  for (auto it = first; it != last; ++it) {
    std::memcpy(merged.data() + (it->first - start), it->second.data(), it->second.size());
  }
  std::memcpy(merged.data() + (pos - start), bytes, static_cast<std::size_t>(count));
  FExtents.erase(first, last);
  FExtents.emplace(start, std::move(merged));
}

void TNRDWriteBatch::SetSize(std::int64_t newSize) {
  if (newSize < FLogicalSize) {
    auto it = FExtents.lower_bound(newSize);
    FExtents.erase(it, FExtents.end());
    if (!FExtents.empty()) {
      auto& [offset, bytes] = *FExtents.rbegin();
      if (offset + static_cast<std::int64_t>(bytes.size()) > newSize) bytes.resize(static_cast<std::size_t>(newSize - offset));
    }
  }
  FMinSize = std::min(FMinSize, newSize);
  FLogicalSize = newSize;
}

void TNRDWriteBatch::Overlay(void* buffer, std::int64_t count, std::int64_t pos) const {
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::int64_t end = pos + count;
  const std::int64_t zeroFrom = std::max(pos, std::min(FMinSize, FLogicalSize));
  if (zeroFrom < end) std::memset(out + (zeroFrom - pos), 0, static_cast<std::size_t>(end - zeroFrom));
  auto it = FExtents.upper_bound(pos);
  if (it != FExtents.begin()) --it;
  for (; it != FExtents.end() && it->first < end; ++it) {
    const std::int64_t s = std::max(pos, it->first);
    const std::int64_t e = std::min(end, it->first + static_cast<std::int64_t>(it->second.size()));
    if (s < e) std::memcpy(out + (s - pos), it->second.data() + (s - it->first), static_cast<std::size_t>(e - s));
  }
}

// ---------------------------------------------------------------------------------------------
// TNRDJournal

std::string TNRDJournal::JournalPath(const std::string& databaseFileName) {
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(databaseFileName, ec);
  return (ec || resolved.empty() ? databaseFileName : resolved.string()) + "-journal";
}

std::vector<std::uint8_t> TNRDJournal::Build(std::int64_t originalSize, const std::vector<TNRDJournalRegion>& regions) {
  std::vector<std::uint8_t> out;
  out.insert(out.end(), kMagic, kMagic + 8);
  PutI64(out, originalSize);
  PutU32(out, static_cast<std::uint32_t>(regions.size()));
  PutU32(out, 0);
  for (const TNRDJournalRegion& r : regions) {
    PutI64(out, r.Offset);
    PutU32(out, static_cast<std::uint32_t>(r.Bytes.size()));
    out.insert(out.end(), r.Bytes.begin(), r.Bytes.end());
  }
  PutU32(out, CalcCRC32(0, out.data(), static_cast<std::int64_t>(out.size())));
  out.insert(out.end(), kEndMagic, kEndMagic + 8);
  return out;
}

bool TNRDJournal::Parse(const std::vector<std::uint8_t>& bytes, std::int64_t& originalSize,
                        std::vector<TNRDJournalRegion>& regions) {
  regions.clear();
  const TReadAt read = [&](void* b, std::int64_t n, std::int64_t pos) {
    if (pos < 0 || n < 0 || pos + n > static_cast<std::int64_t>(bytes.size())) return false;
    std::memcpy(b, bytes.data() + pos, static_cast<std::size_t>(n));
    return true;
  };
  const bool sound = Validate(read, static_cast<std::int64_t>(bytes.size()), originalSize,
                              [&](std::int64_t offset, std::int64_t length, std::int64_t at) {
                                regions.push_back({offset, std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + length)});
                                return true;
                              });
  if (!sound) regions.clear();
  return sound;
}

void TNRDJournal::Apply(platform::FileSystem& fs, platform::NativeFile& file, const TNRDWriteBatch& batch, bool sync) {
  if (batch.Empty()) return;
  const std::string journalPath = JournalPath(file.Path());

  // 1. Before-images, streamed from the file into the journal, which is synced before the file is
  //    touched. The region table is known before the first byte is read.
  std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
  for (const auto& [start, end] : ChangedIntervals(batch)) {
    for (std::int64_t s = start; s < end; s += kMaxRegion) pieces.emplace_back(s, std::min(kMaxRegion, end - s));
  }
  int error = 0;
  auto jf = fs.Open(journalPath, platform::FileAccess::ReadWrite, platform::FileShare::Exclusive,
                    platform::FileDisposition::CreateAlways, error);
  if (!jf) RaiseFile(30369, "Cannot create journal file", journalPath, error);
  {
    bool written = true;
    std::int64_t at = 0;
    std::uint32_t crc = 0;
    std::vector<std::uint8_t> out;
    auto emit = [&] {
      if (out.empty()) return;
      crc = CalcCRC32(crc, out.data(), static_cast<std::int64_t>(out.size()));
      written = written && jf->Write(out.data(), static_cast<std::int64_t>(out.size()), at);
      at += static_cast<std::int64_t>(out.size());
      out.clear();
    };
    out.insert(out.end(), kMagic, kMagic + 8);
    PutI64(out, batch.OriginalSize());
    PutU32(out, static_cast<std::uint32_t>(pieces.size()));
    PutU32(out, 0);
    for (const auto& [offset, length] : pieces) {
      PutI64(out, offset);
      PutU32(out, static_cast<std::uint32_t>(length));
      for (std::int64_t done = 0; written && done < length; done += kChunk) {
        const std::int64_t n = std::min(kChunk, length - done);
        const std::size_t from = out.size();
        out.resize(from + static_cast<std::size_t>(n));
        if (!file.Read(out.data() + from, n, offset + done)) {
          const int readError = file.LastError();
          jf->Close();
          int ignored = 0;
          fs.Remove(journalPath, ignored);
          RaiseFile(30369, "Cannot read before-image of file", file.Path(), readError);
        }
        emit();
      }
    }
    emit();
    PutU32(out, crc);
    written = written && jf->Write(out.data(), static_cast<std::int64_t>(out.size()), at);
    at += static_cast<std::int64_t>(out.size());
    out.assign(kEndMagic, kEndMagic + 8);
    written = written && jf->Write(out.data(), 8, at) && (!sync || jf->Flush());
    error = jf->LastError();
    if (!written || (sync && !fs.SyncDirectoryOf(journalPath))) {
      jf->Close();
      int ignored = 0;
      fs.Remove(journalPath, ignored);  // the database file is untouched: the journal has no use
      RaiseFile(30369, "Cannot write journal file", journalPath, error);
    }
  }

  // 2. The change set itself.
  bool applied = WriteBatchToFile(file, batch) && (!sync || file.Flush());
  if (!applied) {
    error = file.LastError();
    bool valid = false;
    const bool rolledBack = RollBack(*jf, file, sync, valid) && valid;
    jf->Close();
    if (rolledBack) {
      int ignored = 0;
      fs.Remove(journalPath, ignored);
    }
    RaiseFile(30369, "Cannot write changes to file (the change set was rolled back)", file.Path(), error);
  }
  jf->Close();

  // 3. The commit point.
  if (!fs.Remove(journalPath, error)) {
    // A journal that stays would undo this change set later: make it void instead.
    auto jf = fs.Open(journalPath, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                      platform::FileDisposition::OpenExisting, error);
    if (!jf || !jf->SetSize(0) || (sync && !jf->Flush())) {
      RaiseFile(30369, "Cannot remove journal file", journalPath, error);
    }
  }
  if (sync) fs.SyncDirectoryOf(journalPath);
}

bool TNRDJournal::Recover(platform::FileSystem& fs, platform::NativeFile& file, bool sync) {
  const std::string journalPath = JournalPath(file.Path());
  if (!fs.Exists(journalPath)) return false;
  int error = 0;
  {
    auto jf = fs.Open(journalPath, platform::FileAccess::ReadOnly, platform::FileShare::DenyNone,
                      platform::FileDisposition::OpenExisting, error);
    if (!jf) {
      if (!fs.Exists(journalPath)) return false;
      RaiseFile(30375, "Cannot read the journal of an unfinished change set", journalPath, error);
    }
    // A journal that validates is rolled back whatever its size against the file's: a change set
    // that shrank the file holds more before-images than the file has bytes left. One that does not
    // validate was cut while being written, before the file was touched.
    std::int64_t size = 0;
    if (!jf->GetSize(size)) RaiseFile(30375, "Cannot read the journal of an unfinished change set", journalPath, jf->LastError());
    std::uint8_t magic[8] = {};
    if (size >= 8 && !jf->Read(magic, 8, 0)) RaiseFile(30375, "Cannot read the journal of an unfinished change set", journalPath, jf->LastError());
    const bool spill = std::memcmp(magic, kSpillMagic, 8) == 0;
    const TReadAt read = [&](void* b, std::int64_t n, std::int64_t pos) { return jf->Read(b, n, pos); };
    std::int64_t originalSize = 0;
    if (spill) {
      // Its header was synced before the file was touched: one that fails was cut before that.
      if (!file.IsWritable()) {
        throw ENRDException(30375,
                            "Database file '%s' has an unfinished change set and cannot be repaired without write access",
                            {file.Path()});
      }
      bool headerValid = false;
      if (!RollBackSpill(*jf, file, headerValid)) {
        RaiseFile(30375, "Cannot roll back the unfinished change set of file", file.Path(), file.LastError());
      }
    }
    const bool valid = !spill && Validate(read, size, originalSize, [](std::int64_t, std::int64_t, std::int64_t) { return true; });
    if (valid) {
      if (!file.IsWritable()) {
        throw ENRDException(30375,
                            "Database file '%s' has an unfinished change set and cannot be repaired without write access",
                            {file.Path()});
      }
      bool stillValid = false;
      if (!RollBack(*jf, file, true, stillValid) || !stillValid) {
        RaiseFile(30375, "Cannot roll back the unfinished change set of file", file.Path(), file.LastError());
      }
    }
    jf->Close();
  }
  if (!fs.Remove(journalPath, error)) RaiseFile(30375, "Cannot remove journal file", journalPath, error);
  if (sync) fs.SyncDirectoryOf(journalPath);
  return true;
}

// ---------------------------------------------------------------------------------------------
// TNRDSpillJournal

TNRDSpillJournal::TNRDSpillJournal(platform::FileSystem& fs, platform::NativeFile& file, bool sync)
    : FFileSystem(fs), FFile(file), FSync(sync), FPath(TNRDJournal::JournalPath(file.Path())) {}

TNRDSpillJournal::~TNRDSpillJournal() {
  if (FJournal) FJournal->Close();
}

void TNRDSpillJournal::Start() {
  int error = 0;
  if (!FFile.GetSize(FOriginalSize)) RaiseFile(30369, "Cannot get the size of file", FFile.Path(), FFile.LastError());
  FJournal = FFileSystem.Open(FPath, platform::FileAccess::ReadWrite, platform::FileShare::Exclusive,
                              platform::FileDisposition::CreateAlways, error);
  if (!FJournal) RaiseFile(30369, "Cannot create journal file", FPath, error);
  std::random_device rd;
  FSalt = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
  std::uint8_t head[kSpillHeaderSize] = {};
  std::memcpy(head, kSpillMagic, 8);
  PutLE64(head + 8, static_cast<std::uint64_t>(FOriginalSize));
  PutLE64(head + 16, FSalt);
  PutLE32(head + 24, CalcCRC32(0, head, 24));
  if (!FJournal->Write(head, kSpillHeaderSize, 0) || (FSync && (!FJournal->Flush() || !FFileSystem.SyncDirectoryOf(FPath)))) {
    error = FJournal->LastError();
    FJournal->Close();
    FJournal.reset();
    int ignored = 0;
    FFileSystem.Remove(FPath, ignored);
    RaiseFile(30369, "Cannot write journal file", FPath, error);
  }
  FEnd = kSpillHeaderSize;
}

void TNRDSpillJournal::AppendBeforeImage(std::int64_t start, std::int64_t end) {
  std::vector<std::uint8_t> record;
  for (std::int64_t at = start; at < end; at += kChunk) {
    const std::int64_t n = std::min(kChunk, end - at);
    record.assign(static_cast<std::size_t>(kSpillRecordHead + n), 0);
    std::uint8_t* head = record.data();
    PutLE64(head, static_cast<std::uint64_t>(at));
    PutLE32(head + 8, static_cast<std::uint32_t>(n));
    if (!FFile.Read(head + kSpillRecordHead, n, at)) RaiseFile(30369, "Cannot read before-image of file", FFile.Path(), FFile.LastError());
    PutLE32(head + 12, SpillRecordCRC(FSalt, head, head + kSpillRecordHead, n));
    if (!FJournal->Write(record.data(), static_cast<std::int64_t>(record.size()), FEnd)) {
      RaiseFile(30369, "Cannot write journal file", FPath, FJournal->LastError());
    }
    // Known only once written: a record cut short is overwritten by the next one.
    FCovered.emplace(at, TCovered{at + n, FEnd + kSpillRecordHead});
    FEnd += static_cast<std::int64_t>(record.size());
    FJournaledBytes += n;
  }
}

void TNRDSpillJournal::Apply(const TNRDWriteBatch& batch) {
  if (!FJournal) throw ENRDException(30369, "The journal of file '%s' is not open", {FFile.Path()});
  if (batch.Empty()) return;
  // The parts of the original file this batch changes that have no before-image yet: they still
  // hold the original bytes, since nothing has written them during the change set.
  std::vector<std::pair<std::int64_t, std::int64_t>> wanted = ChangedIntervals(batch);
  const std::int64_t journaledBefore = FJournaledBytes;
  for (auto [start, end] : wanted) {
    end = std::min(end, FOriginalSize);
    auto it = FCovered.upper_bound(start);
    if (it != FCovered.begin()) --it;
    std::int64_t at = start;
    for (; at < end && it != FCovered.end(); ++it) {
      if (it->second.End <= at) continue;
      if (it->first >= end) break;
      if (it->first > at) AppendBeforeImage(at, it->first);
      at = std::max(at, it->second.End);
    }
    if (at < end) AppendBeforeImage(at, end);
  }
  if (FJournaledBytes != journaledBefore && FSync && !FJournal->Flush()) {
    RaiseFile(30369, "Cannot write journal file", FPath, FJournal->LastError());
  }
  if (!WriteBatchToFile(FFile, batch)) {
    RaiseFile(30369, "Cannot write changes to file", FFile.Path(), FFile.LastError());
  }
}

void TNRDSpillJournal::Finish() {
  if (!FJournal) return;
  if (FSync && !FFile.Flush()) RaiseFile(30369, "Cannot flush file", FFile.Path(), FFile.LastError());
  FJournal->Close();
  FJournal.reset();
  int error = 0;
  if (!FFileSystem.Remove(FPath, error)) {
    // A journal that stays would undo this change set later: make it void instead.
    auto jf = FFileSystem.Open(FPath, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                               platform::FileDisposition::OpenExisting, error);
    if (!jf || !jf->SetSize(0) || (FSync && !jf->Flush())) RaiseFile(30369, "Cannot remove journal file", FPath, error);
  }
  if (FSync) FFileSystem.SyncDirectoryOf(FPath);
  FCovered.clear();
}

void TNRDSpillJournal::RollBack() {
  if (!FJournal) return;
  std::vector<std::uint8_t> bytes;
  bool ok = true;
  for (const auto& [start, c] : FCovered) {
    const std::int64_t n = c.End - start;
    bytes.resize(static_cast<std::size_t>(n));
    ok = FJournal->Read(bytes.data(), n, c.JournalPos) && FFile.Write(bytes.data(), n, start);
    if (!ok) break;
  }
  ok = ok && FFile.SetSize(FOriginalSize) && FFile.Flush();
  if (!ok) {
    // The journal stays: the next holder of the header lock rolls it back from the file.
    FJournal->Close();
    FJournal.reset();
    RaiseFile(30375, "Cannot roll back the unfinished change set of file", FFile.Path(), FFile.LastError());
  }
  FJournal->Close();
  FJournal.reset();
  int error = 0;
  if (!FFileSystem.Remove(FPath, error)) RaiseFile(30375, "Cannot remove journal file", FPath, error);
  if (FSync) FFileSystem.SyncDirectoryOf(FPath);
  FCovered.clear();
}

bool TNRDSpillJournal::ReadOriginal(void* buffer, std::int64_t count, std::int64_t pos) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (!FFile.Read(out, count, pos)) return false;
  const std::int64_t end = pos + count;
  if (end > FOriginalSize) {
    const std::int64_t from = std::max(pos, FOriginalSize);
    std::memset(out + (from - pos), 0, static_cast<std::size_t>(end - from));
  }
  auto it = FCovered.upper_bound(pos);
  if (it != FCovered.begin()) --it;
  for (; it != FCovered.end() && it->first < end; ++it) {
    const std::int64_t s = std::max(pos, it->first);
    const std::int64_t e = std::min(end, it->second.End);
    if (s < e && !FJournal->Read(out + (s - pos), e - s, it->second.JournalPos + (s - it->first))) return false;
  }
  return true;
}

}  // namespace nrd
