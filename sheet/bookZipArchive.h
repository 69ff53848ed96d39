// The zip archive generator: the default package generator of the zip layer (see bookZip.h).
//
// Our own zip container over zlib. Each part is deflated (raw deflate, method 8) as it is written and
// held compressed in memory until it is sealed; sealing appends the local header (sizes and CRC-32
// known, so no data descriptor), the compressed bytes, and remembers the entry for the central
// directory. Entries come in sealing order, names are flagged UTF-8, every entry carries the same fixed
// time stamp, so equal input gives equal bytes. The archive is written under a temporary name beside
// the target and renamed over it by SaveAndSeal; abandoning or destroying an unsealed generator removes
// the temporary file and leaves an old target untouched.
//
// Limits: the archive stays a classic zip: more than 65,535 entries, or a part, offset or directory at
// or beyond 4 GiB, raise EZxZipGen instead of writing a damaged archive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sheet/bookZip.h"


class TZxZipArchive : public TZxZipGen {
 public:
  static const TZxZipGenClass Class;
  static std::unique_ptr<TZxZipGen> Create(const std::string& zipFile);
  ~TZxZipArchive() override;

  // The deflate level of every entry.
  static constexpr int kCompressionLevel = 6;
  // DOS date and time written into every entry: 1 January 1980, 00:00.
  static constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
  static constexpr std::uint16_t kDosTime = 0;

  // For tests: lower limits, so the overflow paths can be reached with small archives.
  void SetLimitsForTesting(std::uint32_t maxEntries, std::uint64_t maxOffset) {
    FMaxEntries = maxEntries;
    FMaxOffset = maxOffset;
  }

 protected:
  explicit TZxZipArchive(std::string zipFile);
  void DoAbortAndDelete() override;
  void DoSaveAndSeal() override;
  std::unique_ptr<TZxStream> DoNewStream(const std::string& relativeName) override;
  bool DoSealStream(TZxStream& data, const std::string& relativeName) override;

 private:
  struct Entry {
    std::string Name;
    std::uint32_t Crc = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t Size = 0;
    std::uint32_t Offset = 0;
  };
  std::unique_ptr<TZxTargetFile> FZ;
  std::vector<Entry> FEntries;
  std::uint32_t FMaxEntries = 65535;
  std::uint64_t FMaxOffset = 0xFFFFFFFFull;
};

