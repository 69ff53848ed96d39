// The canonical text of a model: every person, family, note record, marriage record and hyperlink
// record with its non-empty fields in a fixed order. Golden tests compare it; trevolan-dump prints it.
// Each person's block begins with "INDI <index> <identifier>", each family's with "FAM <index> <identifier>".
// Line breaks inside values are written as \r and \n, a backslash as \\. An upper date bound equal to
// today is written "today", so the text does not change from day to day.
#pragma once

#include "app/core/Model.h"

#include <QString>

QString DumpModel(const Model& m, const QString& todayKey);
// The same against the current date.
QString DumpModel(const Model& m);
