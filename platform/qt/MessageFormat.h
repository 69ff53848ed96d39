// "%s" message formatting: each "%s" of the pattern takes the next argument, "%%" gives "%".
// Arguments are inserted as they are and never read as patterns, so translated texts holding "%" are safe;
// a "%s" without an argument stays empty, surplus arguments are ignored. Stateless.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

QString FormatMsg(const QString& pattern, const QStringList& args);

}  // namespace platform
