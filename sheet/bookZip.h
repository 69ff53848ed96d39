// Zip generator layer: the base of every package generator, the folder generator, the generator
// registry, and the file that is written beside its target and renamed over it only on success.
//
// A package writer asks a generator for one stream per part (NewStream), writes the part, hands the
// stream back (SealStream) and, when every part is sealed, finishes the package (SaveAndSeal). The
// generator decides where the bytes go: a zip archive (bookZipArchive) or plain files in a folder.
//
// Part names: backslashes become slashes, runs of slashes one slash, one leading slash is dropped; names
// are compared without regard to ASCII letter case; "." and ".." segments are refused so that nothing is
// written outside the package.
//
// Errors: every misuse raises EZxZipGen with the layer's own message. Destructors never throw: a
// generator destroyed before it was sealed abandons its package silently; TZxZipGen::Free is the
// checked way to destroy one and raises the unsealed-destruction error after the object is gone.
// Thread safety: a generator serves one thread; the registry is filled at start-up and read afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sheet/zxmlwriter.h"


// What went wrong with a file a writer was given, so that a caller that speaks another language than the
// library's messages can say it in its own words.
enum class TZxFileFault {
  ffNone,         // not a file fault (misuse, limits, compression)
  ffNotRegular,   // the target exists and is no regular file (folder, FIFO, device, socket)
  ffSameAsInput,  // the target is the very file the data was read from
  ffCreate,       // the temporary file could not be created
  ffWrite,        // the disk refused bytes
  ffReplace       // the finished file could not be renamed over the target
};

// The error of the zip layer; the message is UTF-8 text. File errors also carry their kind and errno.
class EZxZipGen : public EZxError {
 public:
  explicit EZxZipGen(const std::string& message, TZxFileFault fault = TZxFileFault::ffNone, int err = 0)
      : EZxError(message), FFault(fault), FErrno(err) {}
  TZxFileFault Fault() const { return FFault; }
  int Errno() const { return FErrno; }

 private:
  TZxFileFault FFault;
  int FErrno;
};

// A part or file stream of this layer: a byte sink (WriteBuffer takes every byte or throws) that the
// XML writer can write into.
class TZxStream : public TZStream {
 public:
  // The name of the stream's class, for messages.
  virtual const char* ClassName() const = 0;
  void Write(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }
};

// A stream that collects its bytes in memory.
class TZxMemoryStream : public TZxStream {
 public:
  void WriteBuffer(const void* data, std::size_t size) override;
  const char* ClassName() const override { return "TZxMemoryStream"; }
  const std::string& Bytes() const { return FBytes; }

 private:
  std::string FBytes;
};

// The one way this project writes a whole file (workbooks, zip packages, the CSV export).
// A file written under a temporary name in its target's folder and renamed over the target by Commit,
// so an old file stays intact until the new one is complete. Output is buffered; Write throws EZxZipGen
// when the disk refuses bytes. Destruction without Commit removes the temporary file (never throws).
//
// Link rule: a symbolic link is written through. The file it names (links followed to the end; a link
// that names no file yet names the file it would create) is what gets replaced; the link stays a link.
// Only a regular file is ever replaced: a folder, FIFO, device or socket is refused before anything is
// written, and so is the file named as `input` (same device and inode), the file the data came from.
class TZxTargetFile : public TZxStream {
 public:
  // Creates the temporary file; throws EZxZipGen (ffNotRegular, ffSameAsInput, ffCreate) when the target
  // is refused or the temporary file cannot be created.
  explicit TZxTargetFile(std::string target, const std::string& input = {});
  ~TZxTargetFile() override;
  TZxTargetFile(const TZxTargetFile&) = delete;
  TZxTargetFile& operator=(const TZxTargetFile&) = delete;

  void WriteBuffer(const void* data, std::size_t size) override;
  const char* ClassName() const override { return "TZxTargetFile"; }
  // Bytes written so far (buffered ones included).
  std::uint64_t Position() const { return FPosition; }
  // Flushes, closes and renames over the target. Throws EZxZipGen ("Невозможно удалить старый файл")
  // when the target cannot be replaced, after removing the temporary file.
  void Commit();
  // Closes and removes the temporary file; the target is untouched. Never throws.
  void Abandon() noexcept;
  const std::string& Target() const { return FTarget; }
  // The file that Commit replaces: Target with its links followed.
  const std::string& FinalPath() const { return FFinal; }
  const std::string& TempName() const { return FTemp; }

 private:
  void FlushBuffer();
  std::string FTarget;
  std::string FFinal;
  std::string FTemp;
  int FFd = -1;
  std::string FBuffer;
  std::uint64_t FPosition = 0;
};

// The message raised when an existing target cannot be replaced.
std::string CannotReplaceMessage(const std::string& fileName);

// The file a path names with its symbolic links followed to the end; a link whose file does not exist
// yet gives that file's path. A path that is no link comes back unchanged. Gives up after 40 links (a
// loop) and then returns the path reached so far, which the writer's checks refuse.
std::string ResolveTargetPath(const std::string& path);

// Throws EZxZipGen (ffNotRegular or ffSameAsInput) when a file writer would refuse `target`: it exists
// (links followed) and is no regular file, or it is the file `input` names (device and inode; an empty
// or missing input never matches). Lets a caller refuse before it builds what it would write.
void CheckTargetFile(const std::string& target, const std::string& input = {});

// The folder part of a path: everything before the last slash ("." when there is none, "/" for the root).
std::string FolderOf(const std::string& path);

enum class TZxZipGenState { zgsAccepting, zgsFlushing, zgsSealed };

// Enumeration identifier of a state, as the messages name it.
const char* ZipGenStateName(TZxZipGenState state);

class TZxZipGen;

// A class reference to a generator class: its name and its virtual constructor.
struct TZxZipGenClass {
  const char* ClassName;
  std::unique_ptr<TZxZipGen> (*Create)(const std::string& zipFile);
};
using CZxZipGens = const TZxZipGenClass*;

class TZxZipGen {
 public:
  virtual ~TZxZipGen();
  TZxZipGen(const TZxZipGen&) = delete;
  TZxZipGen& operator=(const TZxZipGen&) = delete;

  // Opens a new part; the stream stays owned by the generator until SealStream.
  TZxStream* NewStream(std::string_view relativeName);
  // Declares the part complete; the caller must not touch `data` afterwards.
  void SealStream(TZxStream* data);
  // Finishes the package once every opened part is sealed; always ends sealed.
  void SaveAndSeal();
  // Abandons the package and removes what the generator can remove; always ends sealed.
  void AbortAndDelete();
  // Destroys the generator; when it was not sealed, raises the unsealed-destruction error afterwards.
  static void Free(std::unique_ptr<TZxZipGen>& gen);

  TZxZipGenState State() const { return FState; }
  const std::string& FileName() const { return FFileName; }

  // Registry: Register puts the class at the front (position 0 is the default generator).
  static void Register(CZxZipGens cls);
  static void UnRegister(CZxZipGens cls);
  static CZxZipGens QueryZipGen(int idx);
  static CZxZipGens QueryDummyZipGen();
  static int RegisteredCount();

  // The name normalisation of NewStream; throws for names that cannot be parts.
  static std::string NormalizePartName(std::string_view relativeName);

 protected:
  explicit TZxZipGen(std::string zipFile);
  virtual void DoAbortAndDelete();
  virtual void DoSaveAndSeal() = 0;
  virtual std::unique_ptr<TZxStream> DoNewStream(const std::string& relativeName);
  // True lets the base free the stream at once; false keeps it until destruction.
  virtual bool DoSealStream(TZxStream& data, const std::string& relativeName) = 0;
  // Releases the streams of parts not yet sealed (the abandon step of every generator).
  void FreeActiveStreams();
  // Names of the parts not yet sealed, in opening order.
  std::vector<std::string> ActiveNames() const;
  // Names of the parts already sealed.
  std::vector<std::string> SealedNames() const;
  // The stream of an active part, or null.
  TZxStream* ActiveStream(const std::string& name) const;
  void ForgetActive(const std::string& name);

 private:
  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  void CheckState(TZxZipGenState required) const;
  void MoveState(TZxZipGenState from, TZxZipGenState to);

  std::map<std::string, std::unique_ptr<TZxStream>, NameLess> FActiveStreams;
  std::map<std::string, std::unique_ptr<TZxStream>, NameLess> FSealedStreams;
  std::vector<std::string> FActiveOrder;
  std::string FFileName;
  TZxZipGenState FState = TZxZipGenState::zgsAccepting;
};

// Writes every part as a plain file below the folder given as the package name.
class TZxFolderInsteadOfZip : public TZxZipGen {
 public:
  static const TZxZipGenClass Class;
  static std::unique_ptr<TZxZipGen> Create(const std::string& folder);
  ~TZxFolderInsteadOfZip() override;

 protected:
  explicit TZxFolderInsteadOfZip(std::string folder);
  void DoAbortAndDelete() override;
  void DoSaveAndSeal() override {}
  std::unique_ptr<TZxStream> DoNewStream(const std::string& relativeName) override;
  bool DoSealStream(TZxStream& data, const std::string& relativeName) override;
};

