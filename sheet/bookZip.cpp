#include "sheet/bookZip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sheet/bookZipArchive.h"


namespace {

constexpr std::size_t kFileBufferSize = 1 << 16;

std::string ReplaceFirst(std::string text, std::string_view what, std::string_view with) {
  const auto at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
  return text;
}

unsigned char LowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// Writes the whole range to a descriptor, retrying short writes; false on a failure (errno set).
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The plain file of one part of the folder generator.
class TZxPartFileStream : public TZxStream {
 public:
  explicit TZxPartFileStream(std::string path) : FPath(std::move(path)) {
    FFd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FFd < 0)
      throw EZxZipGen("Сжатие Zip: невозможно создать файл " + FPath + ": " + ErrnoText(errno));
  }
  ~TZxPartFileStream() override {
    if (FFd >= 0) ::close(FFd);
  }
  void WriteBuffer(const void* data, std::size_t size) override {
    if (!WriteAll(FFd, static_cast<const char*>(data), size))
      throw EZxZipGen("Сжатие Zip: ошибка записи в файл " + FPath + ": " + ErrnoText(errno));
  }
  const char* ClassName() const override { return "TZxPartFileStream"; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  int FFd = -1;
};

std::vector<CZxZipGens>& Registry() {
  // Start-up order: the registry exists first, then the zip archive generator registers into it,
  // which makes it the default generator.
  static std::vector<CZxZipGens> registry{&TZxZipArchive::Class};
  return registry;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Streams and the target file

void TZxMemoryStream::WriteBuffer(const void* data, std::size_t size) {
  FBytes.append(static_cast<const char*>(data), size);
}

std::string CannotReplaceMessage(const std::string& fileName) {
  return ReplaceFirst("Невозможно удалить старый файл %s", "%s", fileName);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ResolveTargetPath(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n < 0) return current;
    link.resize(static_cast<std::size_t>(n));
    if (link.empty()) return current;
    // A relative link is read from the folder that holds the link.
    if (link.front() != '/') {
      const std::string folder = FolderOf(current);
      link = (folder == "/" ? std::string("/") : folder + "/") + link;
    }
    current = std::move(link);
  }
  return current;
}

namespace {

std::string NotRegularMessage(const std::string& fileName) {
  return ReplaceFirst("Невозможно записать %s: это не обычный файл", "%s", fileName);
}

std::string SameAsInputMessage(const std::string& fileName) {
  return ReplaceFirst("Невозможно записать %s: это исходный файл", "%s", fileName);
}

// Throws for a target that is refused; `resolved` is the target with its links followed.
void CheckResolved(const std::string& target, const std::string& resolved, const std::string& input) {
  struct stat st {};
  if (::stat(resolved.c_str(), &st) == 0) {
    // A folder keeps the layer's old message: the old "file" cannot be removed.
    if (S_ISDIR(st.st_mode)) throw EZxZipGen(CannotReplaceMessage(target), TZxFileFault::ffNotRegular);
    if (!S_ISREG(st.st_mode)) throw EZxZipGen(NotRegularMessage(target), TZxFileFault::ffNotRegular);
    struct stat in {};
    if (!input.empty() && ::stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino)
      throw EZxZipGen(SameAsInputMessage(target), TZxFileFault::ffSameAsInput);
  } else if (errno == ELOOP) {
    throw EZxZipGen(NotRegularMessage(target), TZxFileFault::ffNotRegular, ELOOP);
  }
}

}  // namespace

void CheckTargetFile(const std::string& target, const std::string& input) {
  CheckResolved(target, ResolveTargetPath(target), input);
}

TZxTargetFile::TZxTargetFile(std::string target, const std::string& input)
    : FTarget(std::move(target)), FFinal(ResolveTargetPath(FTarget)) {
  CheckResolved(FTarget, FFinal, input);
  // A hidden name beside the file that is replaced, so the rename stays inside one file system.
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(FFinal);
  const auto slash = FFinal.find_last_of('/');
  // Cut so that the temporary name stays within the file system's name limit.
  const std::string base = (slash == std::string::npos ? FFinal : FFinal.substr(slash + 1)).substr(0, 160);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = (folder == "/" ? std::string("/") : folder + "/") + "." + base + "." +
                            std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
    FFd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (FFd >= 0) {
      FTemp = std::move(candidate);
      FBuffer.reserve(kFileBufferSize);
      // The file that is replaced keeps its permissions.
      struct stat old {};
      if (::stat(FFinal.c_str(), &old) == 0) (void)::fchmod(FFd, old.st_mode & 07777);
      return;
    }
    if (errno != EEXIST) break;
  }
  const int err = errno;
  throw EZxZipGen("Сжатие Zip: невозможно создать файл " + FTarget + ": " + ErrnoText(err), TZxFileFault::ffCreate,
                  err);
}

TZxTargetFile::~TZxTargetFile() { Abandon(); }

void TZxTargetFile::FlushBuffer() {
  if (FBuffer.empty()) return;
  if (FFd < 0 || !WriteAll(FFd, FBuffer.data(), FBuffer.size())) {
    const int err = FFd < 0 ? EBADF : errno;
    FBuffer.clear();
    throw EZxZipGen("Сжатие Zip: ошибка записи в файл " + FTarget + ": " + ErrnoText(err), TZxFileFault::ffWrite, err);
  }
  FBuffer.clear();
}

void TZxTargetFile::WriteBuffer(const void* data, std::size_t size) {
  if (FFd < 0)
    throw EZxZipGen("Сжатие Zip: ошибка записи в файл " + FTarget + ": " + ErrnoText(EBADF), TZxFileFault::ffWrite,
                    EBADF);
  const char* p = static_cast<const char*>(data);
  FPosition += size;
  if (FBuffer.size() + size <= kFileBufferSize) {
    FBuffer.append(p, size);
    return;
  }
  FlushBuffer();
  if (size >= kFileBufferSize) {
    if (!WriteAll(FFd, p, size)) {
      const int err = errno;
      throw EZxZipGen("Сжатие Zip: ошибка записи в файл " + FTarget + ": " + ErrnoText(err), TZxFileFault::ffWrite,
                      err);
    }
  } else {
    FBuffer.append(p, size);
  }
}

void TZxTargetFile::Commit() {
  try {
    FlushBuffer();
  } catch (...) {
    Abandon();
    throw;
  }
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(FTemp.c_str());
    FTemp.clear();
    throw EZxZipGen("Сжатие Zip: ошибка записи в файл " + FTarget + ": " + ErrnoText(err), TZxFileFault::ffWrite, err);
  }
  if (::rename(FTemp.c_str(), FFinal.c_str()) != 0) {
    const int err = errno;
    ::unlink(FTemp.c_str());
    FTemp.clear();
    throw EZxZipGen(CannotReplaceMessage(FTarget), TZxFileFault::ffReplace, err);
  }
  FTemp.clear();
}

void TZxTargetFile::Abandon() noexcept {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
  if (!FTemp.empty()) {
    ::unlink(FTemp.c_str());
    FTemp.clear();
  }
  FBuffer.clear();
}

// ---------------------------------------------------------------------------------------------------
// The generator base

const char* ZipGenStateName(TZxZipGenState state) {
  switch (state) {
    case TZxZipGenState::zgsAccepting: return "zgsAccepting";
    case TZxZipGenState::zgsFlushing: return "zgsFlushing";
    case TZxZipGenState::zgsSealed: return "zgsSealed";
  }
  return "";
}

bool TZxZipGen::NameLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return LowerAscii(static_cast<unsigned char>(x)) < LowerAscii(static_cast<unsigned char>(y));
  });
}

TZxZipGen::TZxZipGen(std::string zipFile) : FFileName(std::move(zipFile)) {}

TZxZipGen::~TZxZipGen() = default;

void TZxZipGen::CheckState(TZxZipGenState required) const {
  if (FState == required) return;
  std::string message = "Сжатие Zip: текущий режим \"%s\", для продолжения работы требуется режим \"%s\".";
  message = ReplaceFirst(message, "%s", ZipGenStateName(FState));
  message = ReplaceFirst(message, "%s", ZipGenStateName(required));
  throw EZxZipGen(message);
}

void TZxZipGen::MoveState(TZxZipGenState from, TZxZipGenState to) {
  CheckState(from);
  FState = to;
}

std::string TZxZipGen::NormalizePartName(std::string_view relativeName) {
  if (!relativeName.empty() && relativeName.back() == '\\')
    throw EZxZipGen("Сжатие Zip: нельзя сохранить папку вместо файла:" + std::string(relativeName));
  std::string name;
  name.reserve(relativeName.size());
  for (char c : relativeName) {
    if (c == '\\') c = '/';
    if (c == '/' && !name.empty() && name.back() == '/') continue;
    name.push_back(c);
  }
  if (!name.empty() && name.front() == '/') name.erase(0, 1);
  if (name.empty()) throw EZxZipGen("Сжатие Zip: нельзя сохранить безымянный файл");
  // A "." or ".." segment could leave the package folder (or mean nothing in an archive).
  std::size_t start = 0;
  while (start <= name.size()) {
    const auto end = std::min(name.find('/', start), name.size());
    const std::string_view segment(name.data() + start, end - start);
    if (segment == "." || segment == "..")
      throw EZxZipGen("Сжатие Zip: недопустимое имя файла: " + name);
    start = end + 1;
  }
  return name;
}

TZxStream* TZxZipGen::NewStream(std::string_view relativeName) {
  CheckState(TZxZipGenState::zgsAccepting);
  std::string name = NormalizePartName(relativeName);
  if (FSealedStreams.count(name) != 0 || FActiveStreams.count(name) != 0)
    throw EZxZipGen("Сжатие Zip: нельзя сохранить два файла с одинаковым именем\r\n\t" + name);
  std::unique_ptr<TZxStream> stream = DoNewStream(name);
  TZxStream* result = stream.get();
  FActiveOrder.push_back(name);
  FActiveStreams.emplace(std::move(name), std::move(stream));
  return result;
}

void TZxZipGen::SealStream(TZxStream* data) {
  CheckState(TZxZipGenState::zgsAccepting);
  if (data == nullptr) throw EZxZipGen("Сжатие Zip: переданны незаполненныe данные (NIL).");
  auto it = std::find_if(FActiveStreams.begin(), FActiveStreams.end(),
                         [data](const auto& entry) { return entry.second.get() == data; });
  // A pointer that is not an active part may already be freed (a part sealed twice): it is never
  // dereferenced, so the message names the stream base class.
  if (it == FActiveStreams.end())
    throw EZxZipGen(ReplaceFirst("Сжатие Zip: переданны данные (%s) не принадлежащие создаваемому файлу.", "%s",
                                 "TZxStream"));
  const bool release = DoSealStream(*data, it->first);
  std::string name = it->first;
  std::unique_ptr<TZxStream> stream = std::move(it->second);
  FActiveStreams.erase(it);
  FActiveOrder.erase(std::find(FActiveOrder.begin(), FActiveOrder.end(), name));
  if (release) stream.reset();
  FSealedStreams.emplace(std::move(name), std::move(stream));
}

void TZxZipGen::SaveAndSeal() {
  CheckState(TZxZipGenState::zgsAccepting);
  if (!FActiveStreams.empty())
    throw EZxZipGen("Сжатие Zip: нельзя сохранить файл - есть неподтверждённые данные.");
  MoveState(TZxZipGenState::zgsAccepting, TZxZipGenState::zgsFlushing);
  try {
    DoSaveAndSeal();
  } catch (...) {
    FState = TZxZipGenState::zgsSealed;
    throw;
  }
  MoveState(TZxZipGenState::zgsFlushing, TZxZipGenState::zgsSealed);
}

void TZxZipGen::AbortAndDelete() {
  MoveState(TZxZipGenState::zgsAccepting, TZxZipGenState::zgsFlushing);
  try {
    DoAbortAndDelete();
  } catch (...) {
    FState = TZxZipGenState::zgsSealed;
    throw;
  }
  MoveState(TZxZipGenState::zgsFlushing, TZxZipGenState::zgsSealed);
}

void TZxZipGen::Free(std::unique_ptr<TZxZipGen>& gen) {
  if (!gen) return;
  const bool sealed = gen->FState == TZxZipGenState::zgsSealed;
  gen.reset();
  if (!sealed) throw EZxZipGen("Сжатие Zip: файл частично заполнен, нужно или сохранить, или отменить.");
}

void TZxZipGen::DoAbortAndDelete() { FreeActiveStreams(); }

std::unique_ptr<TZxStream> TZxZipGen::DoNewStream(const std::string&) {
  return std::make_unique<TZxMemoryStream>();
}

void TZxZipGen::FreeActiveStreams() {
  FActiveStreams.clear();
  FActiveOrder.clear();
}

std::vector<std::string> TZxZipGen::ActiveNames() const { return FActiveOrder; }

std::vector<std::string> TZxZipGen::SealedNames() const {
  std::vector<std::string> names;
  names.reserve(FSealedStreams.size());
  for (const auto& entry : FSealedStreams) names.push_back(entry.first);
  return names;
}

TZxStream* TZxZipGen::ActiveStream(const std::string& name) const {
  const auto it = FActiveStreams.find(name);
  return it == FActiveStreams.end() ? nullptr : it->second.get();
}

void TZxZipGen::ForgetActive(const std::string& name) {
  FActiveStreams.erase(name);
  const auto it = std::find(FActiveOrder.begin(), FActiveOrder.end(), name);
  if (it != FActiveOrder.end()) FActiveOrder.erase(it);
}

// ---------------------------------------------------------------------------------------------------
// Registry

void TZxZipGen::Register(CZxZipGens cls) {
  if (cls == nullptr || cls->Create == nullptr)
    throw EZxZipGen(std::string("Сжатие Zip: нельзя создавaть Zip с помощью ") +
                    (cls == nullptr ? "NIL" : cls->ClassName));
  auto& registry = Registry();
  registry.insert(registry.begin(), cls);
}

void TZxZipGen::UnRegister(CZxZipGens cls) {
  auto& registry = Registry();
  const auto it = std::find(registry.begin(), registry.end(), cls);
  if (it != registry.end()) registry.erase(it);
}

CZxZipGens TZxZipGen::QueryZipGen(int idx) {
  const auto& registry = Registry();
  if (idx < 0 || static_cast<std::size_t>(idx) >= registry.size()) return nullptr;
  return registry[static_cast<std::size_t>(idx)];
}

CZxZipGens TZxZipGen::QueryDummyZipGen() { return &TZxFolderInsteadOfZip::Class; }

int TZxZipGen::RegisteredCount() { return static_cast<int>(Registry().size()); }

// ---------------------------------------------------------------------------------------------------
// Folder generator

const TZxZipGenClass TZxFolderInsteadOfZip::Class{"TZxFolderInsteadOfZip", &TZxFolderInsteadOfZip::Create};

std::unique_ptr<TZxZipGen> TZxFolderInsteadOfZip::Create(const std::string& folder) {
  return std::unique_ptr<TZxZipGen>(new TZxFolderInsteadOfZip(folder));
}

TZxFolderInsteadOfZip::TZxFolderInsteadOfZip(std::string folder) : TZxZipGen(std::move(folder)) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path path(FileName());
  // A plain file where the folder should be is the old output: it goes.
  if (fs::exists(path, ec) && !fs::is_directory(path, ec) && !fs::remove(path, ec))
    throw EZxZipGen(CannotReplaceMessage(FileName()));
  fs::create_directories(path, ec);
  if (ec || !fs::is_directory(path, ec)) throw EZxZipGen("Невозможно создать папку: " + FileName());
}

TZxFolderInsteadOfZip::~TZxFolderInsteadOfZip() {
  if (State() != TZxZipGenState::zgsSealed) {
    try {
      DoAbortAndDelete();
    } catch (...) {
      // Destruction never throws; what could not be removed stays.
    }
  }
}

std::unique_ptr<TZxStream> TZxFolderInsteadOfZip::DoNewStream(const std::string& relativeName) {
  namespace fs = std::filesystem;
  const fs::path path = fs::path(FileName()) / fs::path(relativeName);
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) throw EZxZipGen("Невозможно создать папку: " + path.parent_path().string());
  return std::make_unique<TZxPartFileStream>(path.string());
}

bool TZxFolderInsteadOfZip::DoSealStream(TZxStream&, const std::string&) { return true; }

void TZxFolderInsteadOfZip::DoAbortAndDelete() {
  namespace fs = std::filesystem;
  auto names = ActiveNames();
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    auto* stream = dynamic_cast<TZxPartFileStream*>(ActiveStream(*it));
    const std::string path = stream != nullptr ? stream->Path() : std::string();
    ForgetActive(*it);  // closes the file
    if (!path.empty()) ::unlink(path.c_str());
  }
  // The files of sealed parts go too, and the sub-folders that are left empty, so an abandoned
  // package leaves nothing of its own behind; anything else in the folder stays, and then the folder.
  std::error_code ec;
  const fs::path root(FileName());
  for (const std::string& name : SealedNames()) {
    fs::path path = root / fs::path(name);
    fs::remove(path, ec);
    for (path = path.parent_path(); path != root && path.has_relative_path(); path = path.parent_path())
      if (!fs::remove(path, ec)) break;  // not empty
  }
  ec.clear();
  if (!fs::remove(root, ec) || ec)
    throw EZxZipGen("Сжатие Zip: невозможно удалить папку " + FileName() +
                    (ec ? ": " + ec.message() : std::string()));
}
