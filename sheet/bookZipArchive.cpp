#include "sheet/bookZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>


namespace {

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndOfDirectorySig = 0x06054b50;
constexpr std::uint16_t kVersion = 20;            // 2.0: deflate
constexpr std::uint16_t kFlagUtf8Names = 0x0800;  // general purpose bit 11
constexpr std::uint16_t kMethodDeflate = 8;

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string TooLargeMessage() {
  return "Сжатие Zip: архив слишком велик (больше 65535 файлов или 4 ГиБ).";
}

// A part being written: deflated and checksummed on the fly, the compressed bytes kept in memory.
class TZxDeflateStream : public TZxStream {
 public:
  TZxDeflateStream() = default;
  ~TZxDeflateStream() override {
    if (FStarted) deflateEnd(&FZ);
  }
  TZxDeflateStream(const TZxDeflateStream&) = delete;
  TZxDeflateStream& operator=(const TZxDeflateStream&) = delete;

  void WriteBuffer(const void* data, std::size_t size) override {
    if (FFinished) throw EZxZipGen("Сжатие Zip: запись в закрытый файл архива.");
    if (size == 0) return;
    Start();
    FSize += size;
    const auto* p = static_cast<const Bytef*>(data);
    std::size_t left = size;
    while (left > 0) {
      const uInt chunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
      FCrc = crc32(FCrc, p, chunk);
      FZ.next_in = const_cast<Bytef*>(p);
      FZ.avail_in = chunk;
      Pump(Z_NO_FLUSH);
      p += chunk;
      left -= chunk;
    }
  }
  const char* ClassName() const override { return "TZxDeflateStream"; }

  // Ends the deflate stream; afterwards Compressed() holds the whole entry data.
  void Finish() {
    if (FFinished) return;
    Start();
    FZ.next_in = nullptr;
    FZ.avail_in = 0;
    Pump(Z_FINISH);
    FOut.resize(FUsed);
    FFinished = true;
    deflateEnd(&FZ);
    FStarted = false;
  }
  const std::string& Compressed() const { return FOut; }
  std::uint32_t Crc() const { return static_cast<std::uint32_t>(FCrc); }
  std::uint64_t Size() const { return FSize; }

 private:
  void Start() {
    if (FStarted || FFinished) return;
    std::memset(&FZ, 0, sizeof FZ);
    if (deflateInit2(&FZ, TZxZipArchive::kCompressionLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EZxZipGen("Сжатие Zip: ошибка инициализации сжатия.");
    FStarted = true;
    FOut.resize(1 << 14);
  }
  void Pump(int flush) {
    for (;;) {
      if (FUsed == FOut.size()) FOut.resize(FOut.size() * 2);
      FZ.next_out = reinterpret_cast<Bytef*>(FOut.data() + FUsed);
      FZ.avail_out = static_cast<uInt>(std::min<std::size_t>(FOut.size() - FUsed, 1u << 30));
      const uInt before = FZ.avail_out;
      const int rc = deflate(&FZ, flush);
      FUsed += before - FZ.avail_out;
      if (rc == Z_STREAM_ERROR) throw EZxZipGen("Сжатие Zip: ошибка сжатия.");
      if (flush == Z_FINISH) {
        if (rc == Z_STREAM_END) return;
      } else if (FZ.avail_in == 0 && FZ.avail_out != 0) {
        return;
      }
    }
  }

  z_stream FZ{};
  bool FStarted = false;
  bool FFinished = false;
  uLong FCrc = crc32(0L, Z_NULL, 0);
  std::uint64_t FSize = 0;
  std::string FOut;
  std::size_t FUsed = 0;
};

}  // namespace

const TZxZipGenClass TZxZipArchive::Class{"TZxZipArchive", &TZxZipArchive::Create};

std::unique_ptr<TZxZipGen> TZxZipArchive::Create(const std::string& zipFile) {
  return std::unique_ptr<TZxZipGen>(new TZxZipArchive(zipFile));
}

TZxZipArchive::TZxZipArchive(std::string zipFile) : TZxZipGen(std::move(zipFile)) {
  FZ = std::make_unique<TZxTargetFile>(FileName());
}

TZxZipArchive::~TZxZipArchive() {
  // An archive that was never finished is removed; the old target stays as it was.
  if (FZ) FZ->Abandon();
}

std::unique_ptr<TZxStream> TZxZipArchive::DoNewStream(const std::string&) {
  if (FEntries.size() + ActiveNames().size() >= FMaxEntries) throw EZxZipGen(TooLargeMessage());
  return std::make_unique<TZxDeflateStream>();
}

bool TZxZipArchive::DoSealStream(TZxStream& data, const std::string& relativeName) {
  auto* part = dynamic_cast<TZxDeflateStream*>(&data);
  if (part == nullptr || !FZ)
    throw EZxZipGen(std::string("Сжатие Zip: переданны данные (") + data.ClassName() +
                    ") не принадлежащие создаваемому файлу.");
  part->Finish();
  const std::uint64_t offset = FZ->Position();
  const std::uint64_t end = offset + 30 + relativeName.size() + part->Compressed().size();
  if (part->Size() >= FMaxOffset || part->Compressed().size() >= FMaxOffset || end >= FMaxOffset ||
      relativeName.size() > 0xFFFF || FEntries.size() >= FMaxEntries)
    throw EZxZipGen(TooLargeMessage());

  Entry entry;
  entry.Name = relativeName;
  entry.Crc = part->Crc();
  entry.CompressedSize = static_cast<std::uint32_t>(part->Compressed().size());
  entry.Size = static_cast<std::uint32_t>(part->Size());
  entry.Offset = static_cast<std::uint32_t>(offset);

  std::string header;
  header.reserve(30 + relativeName.size());
  Put32(header, kLocalHeaderSig);
  Put16(header, kVersion);
  Put16(header, kFlagUtf8Names);
  Put16(header, kMethodDeflate);
  Put16(header, kDosTime);
  Put16(header, kDosDate);
  Put32(header, entry.Crc);
  Put32(header, entry.CompressedSize);
  Put32(header, entry.Size);
  Put16(header, static_cast<std::uint16_t>(relativeName.size()));
  Put16(header, 0);  // no extra field
  header += relativeName;
  FZ->Write(header);
  FZ->Write(part->Compressed());
  FEntries.push_back(std::move(entry));
  return true;
}

void TZxZipArchive::DoSaveAndSeal() {
  if (!FZ) return;
  const std::uint64_t directoryOffset = FZ->Position();
  std::string directory;
  for (const Entry& e : FEntries) {
    Put32(directory, kCentralHeaderSig);
    Put16(directory, kVersion);  // made by: MS-DOS attributes, version 2.0
    Put16(directory, kVersion);
    Put16(directory, kFlagUtf8Names);
    Put16(directory, kMethodDeflate);
    Put16(directory, kDosTime);
    Put16(directory, kDosDate);
    Put32(directory, e.Crc);
    Put32(directory, e.CompressedSize);
    Put32(directory, e.Size);
    Put16(directory, static_cast<std::uint16_t>(e.Name.size()));
    Put16(directory, 0);  // extra field
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk number
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, e.Offset);
    directory += e.Name;
  }
  if (directoryOffset >= FMaxOffset || directoryOffset + directory.size() >= FMaxOffset) {
    FZ->Abandon();
    throw EZxZipGen(TooLargeMessage());
  }
  const auto directorySize = static_cast<std::uint32_t>(directory.size());
  Put32(directory, kEndOfDirectorySig);
  Put16(directory, 0);  // this disk
  Put16(directory, 0);  // disk of the directory
  Put16(directory, static_cast<std::uint16_t>(FEntries.size()));
  Put16(directory, static_cast<std::uint16_t>(FEntries.size()));
  Put32(directory, directorySize);
  Put32(directory, static_cast<std::uint32_t>(directoryOffset));
  Put16(directory, 0);  // no archive comment
  try {
    FZ->Write(directory);
    FZ->Commit();
  } catch (...) {
    FZ->Abandon();
    throw;
  }
}

void TZxZipArchive::DoAbortAndDelete() {
  TZxZipGen::DoAbortAndDelete();
  if (FZ) FZ->Abandon();
}

