#include "platform/qt/TargetFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString SystemReason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// The file `path` leads to with its links followed; a link to a file that does not exist yet gives that
// file's path. A loop of links ends after 40 steps at a link, which the checks then refuse.
QString FollowLinks(const QString& path) {
  QString at = path;
  for (int i = 0; i < 40; ++i) {
    const QFileInfo info(at);
    if (!info.isSymLink()) return at;
    at = info.symLinkTarget();
  }
  return at;
}

// Empty when `path` is missing or a regular file; `mode` gets the permissions of an existing one.
QString CheckRegular(const QString& shown, const QString& path, int* mode) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
    if (errno == ENOENT) return {};
    if (errno == ELOOP) return QStringLiteral("Cannot write %1: %2").arg(shown, SystemReason(errno));
    return {};  // the folder's own faults are said when the file is made
  }
  if (!S_ISREG(st.st_mode)) return QStringLiteral("Cannot write %1: it is not a regular file").arg(shown);
  if (mode) *mode = int(st.st_mode & 07777);
  return {};
}

}  // namespace

QString CheckTargetPath(const QString& target) { return CheckRegular(target, FollowLinks(target), nullptr); }

TTargetFile::TTargetFile(const QString& target) : target_(target), final_(FollowLinks(target)) {}

TTargetFile::~TTargetFile() {
  if (!temp_.isEmpty() && !committed_) ::unlink(QFile::encodeName(temp_).constData());
}

QString TTargetFile::Open() {
  const QString refused = CheckRegular(target_, final_, &mode_);
  if (!refused.isEmpty()) return refused;
  // Beside the final file, so that the rename stays on one file system and is atomic.
  QByteArray pattern = QFile::encodeName(final_ + QStringLiteral(".tmp-XXXXXX"));
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return QStringLiteral("Cannot write %1: %2").arg(target_, SystemReason(errno));
  ::close(fd);
  temp_ = QFile::decodeName(pattern);
  return {};
}

QString TTargetFile::Commit() {
  const QByteArray temp = QFile::encodeName(temp_);
  int mode = mode_;
  if (mode < 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = int(0666 & ~mask);
  }
  if (::chmod(temp.constData(), mode_t(mode)) != 0 ||
      ::rename(temp.constData(), QFile::encodeName(final_).constData()) != 0)
    return QStringLiteral("Cannot write %1: %2").arg(target_, SystemReason(errno));
  committed_ = true;
  return {};
}

}  // namespace platform
