#include "engine/storage/NRDJournal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

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

template <typename T> void Put(std::vector<std::uint8_t>& out, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <typename T> T Get(const std::uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof(T));
  return value;
}

[[noreturn]] void RaiseFile(int code, const char* what, const std::string& path, int error) {
  throw ENRDException(code, "%s '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {what, path, error, platform::SystemErrorMessage(error)});
}

// Merged intervals [start, end) of the original file that the batch changes.
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
  return merged;
}

bool WriteRegionsBack(platform::NativeFile& file, std::int64_t originalSize,
                      const std::vector<TNRDJournalRegion>& regions, bool sync) {
  for (const TNRDJournalRegion& r : regions) {
    if (!file.Write(r.Bytes.data(), static_cast<std::int64_t>(r.Bytes.size()), r.Offset)) return false;
  }
  if (!file.SetSize(originalSize)) return false;
  return !sync || file.Flush();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TNRDWriteBatch

void TNRDWriteBatch::Begin(std::int64_t originalSize) {
  FExtents.clear();
  FOriginalSize = FMinSize = FLogicalSize = originalSize;
  FActive = true;
}

void TNRDWriteBatch::Clear() {
  FExtents.clear();
  FActive = false;
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
  Put<std::int64_t>(out, originalSize);
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(regions.size()));
  Put<std::uint32_t>(out, 0);
  for (const TNRDJournalRegion& r : regions) {
    Put<std::int64_t>(out, r.Offset);
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(r.Bytes.size()));
    out.insert(out.end(), r.Bytes.begin(), r.Bytes.end());
  }
  Put<std::uint32_t>(out, CalcCRC32(0, out.data(), static_cast<std::int64_t>(out.size())));
  out.insert(out.end(), kEndMagic, kEndMagic + 8);
  return out;
}

bool TNRDJournal::Parse(const std::vector<std::uint8_t>& bytes, std::int64_t& originalSize,
                        std::vector<TNRDJournalRegion>& regions) {
  regions.clear();
  if (bytes.size() < kHeaderSize + kTrailerSize) return false;
  if (std::memcmp(bytes.data(), kMagic, 8) != 0) return false;
  if (std::memcmp(bytes.data() + bytes.size() - 8, kEndMagic, 8) != 0) return false;
  const std::size_t crcAt = bytes.size() - kTrailerSize;
  if (Get<std::uint32_t>(bytes.data() + crcAt) != CalcCRC32(0, bytes.data(), static_cast<std::int64_t>(crcAt))) {
    return false;
  }
  originalSize = Get<std::int64_t>(bytes.data() + 8);
  const std::uint32_t count = Get<std::uint32_t>(bytes.data() + 16);
  if (originalSize < 0) return false;
  std::size_t p = kHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (crcAt - p < 12) return false;
    const std::int64_t offset = Get<std::int64_t>(bytes.data() + p);
    const std::uint32_t length = Get<std::uint32_t>(bytes.data() + p + 8);
    p += 12;
    if (length > crcAt - p || offset < 0 || offset > originalSize - static_cast<std::int64_t>(length)) return false;
    regions.push_back({offset, std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(p),
                                                          bytes.begin() + static_cast<std::ptrdiff_t>(p + length))});
    p += length;
  }
  return p == crcAt;
}

void TNRDJournal::Apply(platform::FileSystem& fs, platform::NativeFile& file, const TNRDWriteBatch& batch, bool sync) {
  if (batch.Empty()) return;
  const std::string journalPath = JournalPath(file.Path());

  // 1. Before-images, written and synced before the file is touched.
  std::vector<TNRDJournalRegion> regions;
  for (const auto& [start, end] : ChangedIntervals(batch)) {
    for (std::int64_t s = start; s < end; s += kMaxRegion) {
      const std::int64_t n = std::min(kMaxRegion, end - s);
      TNRDJournalRegion r{s, std::vector<std::uint8_t>(static_cast<std::size_t>(n))};
      if (!file.Read(r.Bytes.data(), n, s)) RaiseFile(30369, "Cannot read before-image of file", file.Path(), file.LastError());
      regions.push_back(std::move(r));
    }
  }
  const std::vector<std::uint8_t> journal = Build(batch.OriginalSize(), regions);
  int error = 0;
  {
    auto jf = fs.Open(journalPath, platform::FileAccess::ReadWrite, platform::FileShare::Exclusive,
                      platform::FileDisposition::CreateAlways, error);
    if (!jf) RaiseFile(30369, "Cannot create journal file", journalPath, error);
    const bool written = jf->Write(journal.data(), static_cast<std::int64_t>(journal.size()), 0) && (!sync || jf->Flush());
    error = jf->LastError();
    jf->Close();
    if (!written || (sync && !fs.SyncDirectoryOf(journalPath))) {
      int ignored = 0;
      fs.Remove(journalPath, ignored);  // the database file is untouched: the journal has no use
      RaiseFile(30369, "Cannot write journal file", journalPath, error);
    }
  }

  // 2. The change set itself.
  bool applied = true;
  if (batch.MinSize() < batch.OriginalSize()) applied = file.SetSize(batch.MinSize());
  // Adjacent extents (pages written in a row) go out in runs of up to 1 MB.
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
  if (applied && sync) applied = file.Flush();
  if (!applied) {
    error = file.LastError();
    if (WriteRegionsBack(file, batch.OriginalSize(), regions, sync)) {
      int ignored = 0;
      fs.Remove(journalPath, ignored);
    }
    RaiseFile(30369, "Cannot write changes to file (the change set was rolled back)", file.Path(), error);
  }

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
  std::vector<std::uint8_t> bytes;
  {
    auto jf = fs.Open(journalPath, platform::FileAccess::ReadOnly, platform::FileShare::DenyNone,
                      platform::FileDisposition::OpenExisting, error);
    if (!jf) {
      if (!fs.Exists(journalPath)) return false;
      RaiseFile(30375, "Cannot read the journal of an unfinished change set", journalPath, error);
    }
    std::int64_t size = 0;
    if (!jf->GetSize(size)) RaiseFile(30375, "Cannot read the journal of an unfinished change set", journalPath, jf->LastError());
    // A journal never holds more than the database file plus its bookkeeping.
    std::int64_t fileSize = 0;
    file.GetSize(fileSize);
    if (size <= static_cast<std::int64_t>(kHeaderSize + kTrailerSize) + 2 * fileSize + (std::int64_t{1} << 24)) {
      bytes.resize(static_cast<std::size_t>(size));
      if (size > 0 && !jf->Read(bytes.data(), size, 0)) {
        RaiseFile(30375, "Cannot read the journal of an unfinished change set", journalPath, jf->LastError());
      }
    }
  }
  std::int64_t originalSize = 0;
  std::vector<TNRDJournalRegion> regions;
  if (Parse(bytes, originalSize, regions)) {
    if (!file.IsWritable()) {
      throw ENRDException(30375,
                          "Database file '%s' has an unfinished change set and cannot be repaired without write access",
                          {file.Path()});
    }
    if (!WriteRegionsBack(file, originalSize, regions, true)) {
      RaiseFile(30375, "Cannot roll back the unfinished change set of file", file.Path(), file.LastError());
    }
  }
  if (!fs.Remove(journalPath, error)) RaiseFile(30375, "Cannot remove journal file", journalPath, error);
  if (sync) fs.SyncDirectoryOf(journalPath);
  return true;
}

}  // namespace nrd
