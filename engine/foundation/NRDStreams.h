// The engine's streams: the abstract `TStream`, the base `TNRDStream` (block-wise copy with progress
// and its own lock), a memory stream on the engine's memory manager, a file stream on a POSIX file
// descriptor and a temporary stream that starts in memory and moves into an unlinked temporary file
// once it grows past its memory limit. Also the engine's CRC-32, the temporary file name and the
// checked read, write and seek routines that raise ENRDException with a caller-given native code.
// Streams are not thread-safe; a caller that shares one brackets its use with Lock/Unlock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A sequence of bytes with a position. Read and Write move the position and return the byte count
// done (0 on failure); Seek returns the new position (-1 on failure).
class TStream {
 public:
  virtual ~TStream() = default;
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // Default: seek to the end and back.
  virtual std::int64_t GetSize();
  virtual void SetSize(std::int64_t newSize) = 0;

  std::int64_t Size() { return GetSize(); }
  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
};

// Receives the percentage done of a block-wise copy.
class TNRDStream;
using TNRDNoCancelProgressEvent = std::function<void(TNRDStream& sender, double percentDone)>;

inline constexpr std::int32_t DefaultStreamBlockSize = 102400;

// The position rule of the engine's streams: a position or end that overflows 64 bits, or an end
// past the stream's limit, raises ENRDException with this code and changes nothing.
inline constexpr int kStreamPositionError = 10091;
// Raises kStreamPositionError for a write of `count` bytes at `position` that would pass a limit.
[[noreturn]] void RaisePastLimit(std::int64_t position, std::int64_t count, std::int64_t size);
// base + offset; raises kStreamPositionError when the sum overflows.
std::int64_t SeekTarget(std::int64_t base, std::int64_t offset, std::int64_t position, std::int64_t size);
inline constexpr std::int32_t DefaultTemporaryStreamMemoryLimit = 1048576;

// File open modes (access in bits 0-1, sharing in bits 4-6; sharing is advisory here).
inline constexpr std::uint16_t fmCreate = 0xFF00;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

class TNRDStream : public TStream {
 public:
  TNRDStream() = default;

  virtual void Lock() { FCSect.lock(); }
  virtual void Unlock() { FCSect.unlock(); }

  // Copies this whole stream from its position 0 to `stream` at that stream's position, in
  // BlockSize pieces; both positions are restored. 10418 block size 0, 10146 short read,
  // 10147 short write.
  void SaveToStream(TStream& stream);
  // Replaces the content by `streamSize` bytes of `stream` from `fromPosition`; both positions
  // are restored. 10419 block size 0, 10148 short read, 10149 short write.
  void LoadFromStreamWithPosition(TStream& stream, std::int64_t fromPosition, std::int64_t streamSize);
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

  std::int32_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(std::int32_t value) { FBlockSize = value; }
  TNRDNoCancelProgressEvent OnProgress;
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }

 protected:
  bool FModified = false;

 private:
  void Progress(double percent);

  TCriticalSection FCSect;
  std::int32_t FBlockSize = DefaultStreamBlockSize;
};

// A stream in one GlobalMemoryManager block. Sizes are 32-bit; growth doubles the needed size and
// every byte a growth uncovers reads as zero. A write at a negative position writes nothing and
// returns 0; a write whose end would pass 2^31 - 1 bytes raises kStreamPositionError and writes
// nothing. Seek does not test the position against the size; one that overflows raises.
class TNRDMemoryStream : public TNRDStream {
 public:
  // With a buffer (a live GlobalMemoryManager block), adopts it: size and allocated size are the
  // block's recorded size. Without one, allocates defaultAllocatedSize bytes when above 0.
  explicit TNRDMemoryStream(void* buffer = nullptr, std::int32_t defaultAllocatedSize = 0);
  ~TNRDMemoryStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return FBufferSize; }
  void SetSize(std::int64_t newSize) override;

  std::uint8_t* Buffer() const { return FBuffer; }
  std::int32_t AllocatedBufferSize() const { return FAllocatedBufferSize; }

 private:
  std::uint8_t* FBuffer = nullptr;
  std::int32_t FBufferSize = 0;
  std::int32_t FAllocatedBufferSize = 0;
  std::int64_t FPosition = 0;
};

// A stream on an open file descriptor. Mode fmCreate creates (truncates) the file for reading and
// writing; any other mode opens an existing file (access bits 0-1). A temporary stream's file is
// unlinked as soon as it is open, so it vanishes when the descriptor closes.
class TNRDFileStream : public TNRDStream {
 public:
  // 10104 "Cannot create file. FileName = %s"; 10105 "Cannot open file. FileName = %s, Mode = %d".
  TNRDFileStream(const std::string& fileName, std::uint16_t mode, bool isTemporary = false);
  // A new unlinked temporary file in the temporary folder (never reopened by name).
  static TNRDFileStream* CreateTemporary();
  ~TNRDFileStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Raises EOSError when the file cannot be cut or extended.
  void SetSize(std::int64_t newSize) override;

  int Handle() const { return FHandle; }
  const std::string& FileName() const { return FFileName; }
  std::uint16_t Mode() const { return FMode; }
  bool IsTemporary() const { return FIsTemporary; }

 private:
  TNRDFileStream(int handle, std::string fileName);

  int FHandle = -1;
  std::string FFileName;
  std::uint16_t FMode = 0;
  bool FIsTemporary = false;
};

// Starts as a memory stream; the first write whose end (or the current size) would pass MemoryLimit,
// or the first size change past it, moves its content into a temporary file (unless temporary
// files are disabled) at the same position, once. A failed move leaves it in memory and raises.
// Positions follow the memory stream's rule in both states: any seek that does not overflow is
// kept, reads and writes at a negative position do nothing, and a write whose end (or a size)
// would pass 2^31 - 1 raises kStreamPositionError and changes nothing.
class TNRDTemporaryStream : public TNRDStream {
 public:
  explicit TNRDTemporaryStream(bool disableTempFiles = false);
  ~TNRDTemporaryStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t newSize) override;

  std::int32_t MemoryLimit() const { return FMemoryLimit; }
  void SetMemoryLimit(std::int32_t value) { FMemoryLimit = value; }
  bool InMemory() const { return FInMemory; }
  const std::string& FileName() const { return FFileName; }
  TNRDMemoryStream* MemoryStream() const { return FMemoryStream; }
  TNRDFileStream* FileStream() const { return FFileStream; }

 private:
  void MoveToFile();

  std::int32_t FMemoryLimit = DefaultTemporaryStreamMemoryLimit;
  std::int64_t FFilePosition = 0;  // the position once in the file (the file's own is set per call)
  TNRDMemoryStream* FMemoryStream = nullptr;
  TNRDFileStream* FFileStream = nullptr;
  std::string FFileName;
  bool FInMemory = true;
  bool FDisableTempFiles = false;
};

// The reflected CRC-32 table of polynomial 0xEDB88320.
extern const std::uint32_t CRC32Table[256];
// CRC-32 from `startValue`, without initial or final inversion. 0 bytes give the start value.
std::uint32_t CalcCRC32(std::uint32_t startValue, const void* buffer, std::int64_t length);

// A new empty file named "NRD..." in the temporary folder; returns its name.
std::string GetTemporaryFileName();

// Checked stream routines: a short write, short read or a position that does not take raises
// ENRDException with `nativeErrorCode`.
void WriteDataToStream(const void* buffer, std::int32_t size, TStream& stream, int nativeErrorCode);
void ReadDataFromStream(void* buffer, std::int32_t size, TStream& stream, int nativeErrorCode);
void SetStreamPosition(TStream& stream, int nativeErrorCode, std::int64_t position);

}  // namespace nrd
