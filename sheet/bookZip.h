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


// The error of the zip layer; the message is UTF-8 text.
class EZxZipGen : public EZxError {
 public:
  explicit EZxZipGen(const std::string& message) : EZxError(message) {}
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

// A file written under a temporary name in its target's folder and renamed over the target by Commit,
// so an old file stays intact until the new one is complete. Output is buffered; Write throws EZxZipGen
// when the disk refuses bytes. Destruction without Commit removes the temporary file (never throws).
class TZxTargetFile : public TZxStream {
 public:
  // Creates the temporary file; throws EZxZipGen when it cannot be created or when the target exists
  // and cannot be replaced by a file.
  explicit TZxTargetFile(std::string target);
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
  const std::string& TempName() const { return FTemp; }

 private:
  void FlushBuffer();
  std::string FTarget;
  std::string FTemp;
  int FFd = -1;
  std::string FBuffer;
  std::uint64_t FPosition = 0;
};

// The message raised when an existing target cannot be replaced.
std::string CannotReplaceMessage(const std::string& fileName);

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

