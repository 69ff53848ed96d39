// The files the export words write: the checks made before anything is built, and the file layer's faults
// said in the tool's own language (English, like every message of this command).
#pragma once

#include <QString>

#include "sheet/bookZip.h"

// Throws std::runtime_error when `out` cannot be written as the export's file: it is no regular file (a
// folder, FIFO or device), it is the family tree that was read (`input`, links followed), or its name is
// only an extension (".xlsx" would make a hidden file).
void CheckOutputFile(const QString& out, const QString& input);
// The tool's message for a fault of the file layer on `out`.
QString OutputFaultText(TZxFileFault fault, int err, const QString& out);
