// The workbook exports of the marriage list and the anniversary calendar: one-sheet workbooks that look
// like their grids (a bold, centred, frozen header row with the grid's titles and widths, data cells
// coloured by the grid's own colour rule), written as XLSX or Excel 2003 XML by the file's extension
// through the spreadsheet library's front end.
//
// Headless: reads the rows the grid shows from its client dataset (the filter applies) and the grid's
// columns; a write that fails raises std::runtime_error (the library's errors pass through), so the caller
// never opens a file that was not written.
#pragma once

#include "app/reports/Marriages.h"

#include <QString>

#include <vector>

class TSHEVRIX;
namespace platform {
class TClientDataSet;
}

// The books as the exports build them (sheet "Marriages" / "Informer", the six styles, frozen header).
void BuildMarriageBook(TSHEVRIX& book, const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns);
void BuildInformerBook(TSHEVRIX& book, const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns);

// Build and write; nothing happens when the dataset is not open. `fileName` ends in ".xlsx" or ".xml".
// `input`, when given, is the file the tree was read from, which is never overwritten.
void MarriageToXLS(const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns, const QString& fileName,
                   const QString& input = {});
void InformerToXLS(const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns, const QString& fileName,
                   const QString& input = {});
// Writes the book to the file by its extension through the project's one whole-file writer (TZxTargetFile:
// links written through, only a regular file replaced, never `input`). Raises EZxZipGen for a refused
// target (before anything is written) and std::runtime_error when the file was not written.
void SaveWorkbook(TSHEVRIX& book, const QString& fileName, const QString& input = {});

// The fixed files of the "В Excel" buttons.
inline constexpr const char* kMarriageWorkbook = "Marriage.XLSX";
inline constexpr const char* kInformerWorkbook = "Informer.XLSX";
