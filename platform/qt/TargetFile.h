// A file the user named as the output of a save (a picture, a rich-text report), written whole or not
// at all: the bytes go to a temporary file beside it, which replaces the target only when everything was
// written. A failed write, a full disk or a killed process leaves the old file as it was (or no file);
// at worst a temporary file beside it, never a cut one under the target's name.
// - The target's symbolic links are followed: the file they lead to is replaced, the links stay.
// - A target that exists and is no regular file (a folder, a FIFO, a device) is refused before anything
//   is opened, so a FIFO without a reader never blocks the caller and no device becomes a regular file.
// - A new file gets the usual permissions (0666 less the umask), a replaced one keeps its own.
// Messages are in English, like the writers that use this. Single thread per object.
#pragma once

#include <QString>

namespace platform {

class TTargetFile {
 public:
  explicit TTargetFile(const QString& target);
  // Removes the temporary file when Commit was not reached.
  ~TTargetFile();
  TTargetFile(const TTargetFile&) = delete;
  TTargetFile& operator=(const TTargetFile&) = delete;

  // Makes the temporary file. Empty on success, else why the target cannot be written.
  QString Open();
  // REQUIRES: Open() succeeded. The path the writer fills (it exists, empty).
  const QString& TempPath() const { return temp_; }
  // Renames the temporary file over the target. Empty on success, else the reason (the old file stays).
  QString Commit();

 private:
  QString target_;
  QString final_;
  QString temp_;
  int mode_ = -1;  // permissions of the file replaced, -1 for a new file
  bool committed_ = false;
};

// Empty when `target` may be written by TTargetFile, else the reason (it exists and is no regular file).
QString CheckTargetPath(const QString& target);

}  // namespace platform
