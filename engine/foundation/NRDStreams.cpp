// The engine's streams, CRC-32 and checked stream routines.
#include "engine/foundation/NRDStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"

namespace nrd {

namespace {

constexpr const char* kCannotRead =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr const char* kCannotWrite =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
constexpr std::int64_t kMaxStreamSize = std::numeric_limits<std::int32_t>::max();

constexpr std::uint32_t TableEntry(std::uint32_t i) {
  for (int k = 0; k < 8; ++k) i = (i & 1) ? (i >> 1) ^ 0xEDB88320u : i >> 1;
  return i;
}

struct CrcTable {
  std::uint32_t v[256];
  constexpr CrcTable() : v() {
    for (std::uint32_t i = 0; i < 256; ++i) v[i] = TableEntry(i);
  }
};
constexpr CrcTable kCrcTable;

}  // namespace

void RaisePastLimit(std::int64_t position, std::int64_t count, std::int64_t size) {
  throw ENRDException(kStreamPositionError,
                      "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                      {position, size, count, std::int64_t(0)});
}

std::int64_t SeekTarget(std::int64_t base, std::int64_t offset, std::int64_t position, std::int64_t size) {
  std::int64_t target;
  if (__builtin_add_overflow(base, offset, &target))
    throw ENRDException(kStreamPositionError, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {offset, position, size});
  return target;
}

const std::uint32_t CRC32Table[256] = {
#define E(i) kCrcTable.v[i]
#define R8(i) E(i), E(i + 1), E(i + 2), E(i + 3), E(i + 4), E(i + 5), E(i + 6), E(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef E
};

std::uint32_t CalcCRC32(std::uint32_t startValue, const void* buffer, std::int64_t length) {
  if (length <= 0 || buffer == nullptr) return startValue;
  // The table-driven loop equals zlib's CRC-32 with the inversions undone on both ends.
  uLong crc = ~static_cast<uLong>(startValue) & 0xFFFFFFFFu;
  const Bytef* p = static_cast<const Bytef*>(buffer);
  while (length > 0) {
    uInt piece = static_cast<uInt>(std::min<std::int64_t>(length, 1 << 30));
    crc = crc32(crc, p, piece);
    p += piece;
    length -= piece;
  }
  return static_cast<std::uint32_t>(~crc & 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------------------------
std::int64_t TStream::GetSize() {
  std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TNRDStream::Progress(double percent) {
  if (OnProgress) OnProgress(*this, percent);
}

void TNRDStream::SaveToStream(TStream& stream) {
  if (FBlockSize <= 0) throw ENRDException(10418, "Stream block size = 0 is not allowed");
  std::int64_t ownPos = Position();
  std::int64_t targetPos = stream.Position();
  std::int64_t size = Size();
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::int64_t>(FBlockSize, std::max<std::int64_t>(size, 1))));
  Progress(0);
  Seek(0, TSeekOrigin::soBeginning);
  std::int64_t copied = 0;
  while (copied < size) {
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(FBlockSize, size - copied));
    std::int64_t before = Position();
    std::int32_t got = Read(piece.data(), n);
    if (got != n) throw ENRDException(10146, kCannotRead, {before, size, n, got});
    std::int64_t targetBefore = stream.Position();
    std::int32_t put = stream.Write(piece.data(), n);
    if (put != n) throw ENRDException(10147, kCannotWrite, {targetBefore, stream.Size(), n, put});
    copied += n;
    Progress(static_cast<double>(copied) / static_cast<double>(size) * 100.0);
  }
  Progress(100);
  Seek(ownPos, TSeekOrigin::soBeginning);
  stream.Seek(targetPos, TSeekOrigin::soBeginning);
}

void TNRDStream::LoadFromStreamWithPosition(TStream& stream, std::int64_t fromPosition, std::int64_t streamSize) {
  if (FBlockSize <= 0) throw ENRDException(10419, "Stream block size = 0 is not allowed");
  std::int64_t ownPos = Position();
  std::int64_t sourcePos = stream.Position();
  SetSize(0);
  Seek(0, TSeekOrigin::soBeginning);
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::int64_t>(FBlockSize, std::max<std::int64_t>(streamSize, 1))));
  std::int64_t sourceSize = stream.Size();
  Progress(0);
  stream.Seek(fromPosition, TSeekOrigin::soBeginning);
  std::int64_t left = streamSize;
  while (left > 0) {
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(FBlockSize, left));
    std::int64_t before = stream.Position();
    std::int32_t got = stream.Read(piece.data(), n);
    if (got != n) throw ENRDException(10148, kCannotRead, {before, sourceSize, n, got});
    std::int64_t ownBefore = Position();
    std::int32_t put = Write(piece.data(), n);
    if (put != n) throw ENRDException(10149, kCannotWrite, {ownBefore, Size(), n, put});
    left -= n;
    if (sourceSize > 0) Progress(static_cast<double>(stream.Position()) / static_cast<double>(sourceSize) * 100.0);
  }
  Progress(100);
  Seek(std::min(ownPos, Size()), TSeekOrigin::soBeginning);
  stream.Seek(sourcePos, TSeekOrigin::soBeginning);
}

void TNRDStream::LoadFromStream(TStream& stream) { LoadFromStreamWithPosition(stream, 0, stream.Size()); }

void TNRDStream::LoadFromFile(const std::string& fileName) {
  TNRDFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TNRDStream::SaveToFile(const std::string& fileName) {
  TNRDFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

// ---------------------------------------------------------------------------------------------
TNRDMemoryStream::TNRDMemoryStream(void* buffer, std::int32_t defaultAllocatedSize) {
  if (buffer != nullptr) {
    std::int64_t size = GlobalMemoryManager().GetMemoryBufferSize(buffer);
    FBuffer = static_cast<std::uint8_t*>(buffer);
    FBufferSize = static_cast<std::int32_t>(size);
    FAllocatedBufferSize = FBufferSize;
  } else if (defaultAllocatedSize > 0) {
    FBuffer = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(defaultAllocatedSize));
    FAllocatedBufferSize = defaultAllocatedSize;
  }
}

TNRDMemoryStream::~TNRDMemoryStream() {
  if (FBuffer != nullptr) {
    try {
      GlobalMemoryManager().FreeAndNillMem(FBuffer);
    } catch (...) {
    }
  }
}

void TNRDMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize > kMaxStreamSize) throw ENRDException(30015, "GetMem error: %s", {kOutOfMemoryText});
  if (newSize <= 0) {
    if (FBuffer != nullptr) GlobalMemoryManager().FreeAndNillMem(FBuffer);
    FBufferSize = 0;
    FAllocatedBufferSize = 0;
  } else if (FBuffer != nullptr) {
    if (newSize > FAllocatedBufferSize) {
      std::int64_t alloc = std::min<std::int64_t>(newSize * 2, kMaxStreamSize);
      GlobalMemoryManager().ReallocMemAndClearTail(FBuffer, alloc);
      FAllocatedBufferSize = static_cast<std::int32_t>(alloc);
    }
    // Every growth reads as zeros from the old size on: a stream cut short keeps its old bytes in
    // the allocation, and a realloc copies them along, so clearing only new allocation is not enough.
    if (newSize > FBufferSize)
      std::memset(FBuffer + FBufferSize, 0, static_cast<std::size_t>(newSize - FBufferSize));
    FBufferSize = static_cast<std::int32_t>(newSize);
  } else {
    FBuffer = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(newSize));
    FBufferSize = static_cast<std::int32_t>(newSize);
    FAllocatedBufferSize = FBufferSize;
  }
  if (FPosition > FBufferSize) FPosition = FBufferSize;
}

std::int32_t TNRDMemoryStream::Read(void* buffer, std::int32_t count) {
  if (FPosition < 0 || FPosition >= FBufferSize || count < 1) return 0;
  std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(count, FBufferSize - FPosition));
  std::memcpy(buffer, FBuffer + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int32_t TNRDMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (FPosition < 0 || count < 1) return 0;
  // The end is tested before it is formed, so a position near the 64-bit maximum cannot wrap.
  if (FPosition > kMaxStreamSize - count) RaisePastLimit(FPosition, count, FBufferSize);
  std::int64_t end = FPosition + count;
  if (end > FBufferSize) {
    std::int64_t pos = FPosition;
    SetSize(end);
    FPosition = pos;
  }
  std::memcpy(FBuffer + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition = end;
  FModified = true;
  return count;
}

std::int64_t TNRDMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t base = origin == TSeekOrigin::soCurrent ? FPosition : origin == TSeekOrigin::soEnd ? FBufferSize : 0;
  FPosition = SeekTarget(base, offset, FPosition, FBufferSize);
  return FPosition;
}

// ---------------------------------------------------------------------------------------------
TNRDFileStream::TNRDFileStream(const std::string& fileName, std::uint16_t mode, bool isTemporary)
    : FFileName(fileName), FMode(mode), FIsTemporary(isTemporary) {
  if (mode == fmCreate) {
    FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FHandle < 0) throw ENRDException(10104, "Cannot create file. FileName = %s", {fileName});
    if (isTemporary) ::unlink(fileName.c_str());
  } else {
    int access = mode & 3;
    int flags = access == fmOpenWrite ? O_WRONLY : access == fmOpenReadWrite ? O_RDWR : O_RDONLY;
    FHandle = ::open(fileName.c_str(), flags | O_CLOEXEC);
    if (FHandle >= 0) {
      struct stat st{};
      if (::fstat(FHandle, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
      }
    }
    if (FHandle < 0)
      throw ENRDException(10105, "Cannot open file. FileName = %s, Mode = %d", {fileName, static_cast<int>(mode)});
  }
}

TNRDFileStream::TNRDFileStream(int handle, std::string fileName)
    : FHandle(handle), FFileName(std::move(fileName)), FMode(fmCreate), FIsTemporary(true) {}

TNRDFileStream* TNRDFileStream::CreateTemporary() {
  std::string name;
  int fd = CreateTemporaryFile("NRD", name);
  try {
    return new TNRDFileStream(fd, name);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

TNRDFileStream::~TNRDFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int32_t TNRDFileStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  std::int32_t done = 0;
  while (done < count) {
    ssize_t r = ::read(FHandle, static_cast<std::uint8_t*>(buffer) + done, static_cast<std::size_t>(count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::int32_t>(r);
  }
  return done;
}

std::int32_t TNRDFileStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  std::int32_t done = 0;
  while (done < count) {
    ssize_t r = ::write(FHandle, static_cast<const std::uint8_t*>(buffer) + done, static_cast<std::size_t>(count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::int32_t>(r);
  }
  if (done > 0) FModified = true;
  return done;
}

std::int64_t TNRDFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

void TNRDFileStream::SetSize(std::int64_t newSize) {
  std::int64_t pos = Position();
  if (newSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0) {
    int err = newSize < 0 ? EINVAL : errno;
    throw EOSError(std::string("Cannot set the file size: ") + std::strerror(err), err);
  }
  Seek(std::min(pos, newSize), TSeekOrigin::soBeginning);
}

// ---------------------------------------------------------------------------------------------
TNRDTemporaryStream::TNRDTemporaryStream(bool disableTempFiles)
    : FMemoryStream(new TNRDMemoryStream()), FDisableTempFiles(disableTempFiles) {}

TNRDTemporaryStream::~TNRDTemporaryStream() {
  delete FMemoryStream;
  delete FFileStream;
}

void TNRDTemporaryStream::MoveToFile() {
  TNRDFileStream* file = TNRDFileStream::CreateTemporary();
  try {
    file->LoadFromStream(*FMemoryStream);
  } catch (...) {
    delete file;
    throw;
  }
  FFilePosition = FMemoryStream->Position();
  FFileStream = file;
  FFileName = file->FileName();
  delete FMemoryStream;
  FMemoryStream = nullptr;
  FInMemory = false;
}

std::int32_t TNRDTemporaryStream::Write(const void* buffer, std::int32_t count) {
  const std::int64_t position = FInMemory ? FMemoryStream->Position() : FFilePosition;
  if (position < 0 || count < 1) return 0;
  // The end is tested before it is formed and before the stream moves, so a far position can
  // neither wrap nor leave a huge sparse file behind.
  if (position > kMaxStreamSize - count) RaisePastLimit(position, count, GetSize());
  // The memory a write needs is its end, not size + count: a write far past the end must spill
  // rather than grow the memory stream to its position.
  if (FInMemory && !FDisableTempFiles && std::max(FMemoryStream->Size(), position + count) > FMemoryLimit)
    MoveToFile();
  std::int32_t n = 0;
  if (FInMemory) {
    n = FMemoryStream->Write(buffer, count);
  } else {
    SetStreamPosition(*FFileStream, kStreamPositionError, FFilePosition);
    n = FFileStream->Write(buffer, count);
    FFilePosition += n;
  }
  if (n > 0) FModified = true;
  return n;
}

std::int32_t TNRDTemporaryStream::Read(void* buffer, std::int32_t count) {
  if (FInMemory) return FMemoryStream->Read(buffer, count);
  if (FFilePosition < 0 || count < 1 || FFilePosition >= FFileStream->Size()) return 0;
  SetStreamPosition(*FFileStream, kStreamPositionError, FFilePosition);
  const std::int32_t n = FFileStream->Read(buffer, count);
  FFilePosition += n;
  return n;
}

std::int64_t TNRDTemporaryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (FInMemory) return FMemoryStream->Seek(offset, origin);
  const std::int64_t base =
      origin == TSeekOrigin::soCurrent ? FFilePosition : origin == TSeekOrigin::soEnd ? FFileStream->Size() : 0;
  FFilePosition = SeekTarget(base, offset, FFilePosition, FFileStream->Size());
  return FFilePosition;
}

std::int64_t TNRDTemporaryStream::GetSize() { return FInMemory ? FMemoryStream->Size() : FFileStream->Size(); }

void TNRDTemporaryStream::SetSize(std::int64_t newSize) {
  if (newSize > kMaxStreamSize)
    throw ENRDException(kStreamPositionError, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {newSize, Position(), GetSize()});
  if (FInMemory && !FDisableTempFiles && newSize > FMemoryLimit) MoveToFile();
  if (FInMemory) {
    FMemoryStream->SetSize(newSize);
    return;
  }
  FFileStream->SetSize(std::max<std::int64_t>(newSize, 0));
  if (FFilePosition > newSize) FFilePosition = std::max<std::int64_t>(newSize, 0);
}

// ---------------------------------------------------------------------------------------------
std::string GetTemporaryFileName() {
  std::string pattern = GetTempDirectory() + "/NRDXXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    int err = errno;
    throw EOSError(std::string("Cannot create a temporary file: ") + std::strerror(err), err);
  }
  ::close(fd);
  return pattern;
}

void WriteDataToStream(const void* buffer, std::int32_t size, TStream& stream, int nativeErrorCode) {
  std::int64_t before = stream.Position();
  std::int32_t n = size > 0 ? stream.Write(buffer, size) : 0;
  if (n != size) throw ENRDException(nativeErrorCode, kCannotWrite, {before, stream.Size(), size, n});
}

void ReadDataFromStream(void* buffer, std::int32_t size, TStream& stream, int nativeErrorCode) {
  std::int64_t before = stream.Position();
  std::int32_t n = size > 0 ? stream.Read(buffer, size) : 0;
  if (n != size) throw ENRDException(nativeErrorCode, kCannotRead, {before, stream.Size(), size, n});
}

void SetStreamPosition(TStream& stream, int nativeErrorCode, std::int64_t position) {
  std::int64_t before = stream.Position();
  std::int64_t now = stream.Seek(position, TSeekOrigin::soBeginning);
  if (now != position)
    throw ENRDException(nativeErrorCode, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {position, before, stream.Size()});
}

}  // namespace nrd
