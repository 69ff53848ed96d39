// The XLSX saver of the export front end: answers to ".XLSX", ".XLSM" and the other names of the
// Office Open XML workbook format, and runs the XLSX writer (bookxlsx) with the saver's settings.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sheet/bookSave.h"

class TZxXlsxSaver : public TZBookSave {
 public:
  static const TZBookSaveClass Class;
  using TZBookSave::TZBookSave;
  explicit TZxXlsxSaver(const TZBookSave& source) : TZBookSave(source) {}
  static std::vector<std::string> FormatNames();
  int InternalSave() override;
};
