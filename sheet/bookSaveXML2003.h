// The Excel 2003 XML saver of the export front end (".XML", "SpreadsheetML" and other names) and the
// writer it runs: a workbook as one SpreadsheetML file (root Workbook in the Office 2003 spreadsheet
// namespace), written in one forward pass through the XML writer.
//
// The file form builds the page list before it touches anything; with nothing to write (result 2) an
// old file stays. It writes a temporary file beside the target and renames it over the target only
// when the whole document is written: a failure in the middle leaves the old file intact, removes the
// temporary one and passes the original error on. Result 1 means the temporary file could not be
// created; a target that cannot be replaced raises "Невозможно удалить старый файл ...".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sheet/bookSave.h"
#include "sheet/shevrix.h"
#include "sheet/zxmlwriter.h"

class TZxXml2003Saver : public TZBookSave {
 public:
  static const TZBookSaveClass Class;
  using TZBookSave::TZBookSave;
  explicit TZxXml2003Saver(const TZBookSave& source) : TZBookSave(source) {}
  static std::vector<std::string> FormatNames();
  int InternalSave() override;
};

// 0 written, 1 the file could not be created, 2 no page to write.
int SaveBookAsSpreadsheetMLToFile(const TSHEVRIX& book, const std::string& fileName,
                                  const std::vector<int>& sheetIndexes, const std::vector<std::u16string>& titles,
                                  const std::string& bom, const std::u16string& encodingName,
                                  const TAnsiToCPConverter& converter);
// 0 written, 1 the stream is null, 2 no page to write (nothing written).
int SaveBookAsSpreadsheetMLToStream(const TSHEVRIX& book, TZStream* stream, const std::vector<int>& sheetIndexes,
                                    const std::vector<std::u16string>& titles, const std::string& bom,
                                    const std::u16string& encodingName, const TAnsiToCPConverter& converter);
