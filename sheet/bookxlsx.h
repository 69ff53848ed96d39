// The XLSX writer: a workbook as an Office Open XML package (a zip of XML parts) written through a zip
// generator (bookZip), one part at a time in a fixed order, with text cells inline and an empty shared
// string table; and the styles part, which splits the book's whole styles into deduplicated fonts, fills
// and border sets referred to by one cell format per book style.
//
// Failure: any error abandons the package (an old target file stays as it was, no temporary file is
// left) and the original error reaches the caller. Result 2 (no page) touches nothing.
#pragma once

#include <string>
#include <vector>

#include "sheet/bookZip.h"
#include "sheet/shevrix.h"
#include "sheet/zxmlwriter.h"

// 0 written, 2 no page. Raises EZxZipGen "No zip generators registered, folder output disabled." when no
// generator is given or registered and folder output is not allowed.
int SaveBookAsXlsx(const TSHEVRIX& book, const std::string& fileName, const std::vector<int>& sheetIndexes,
                   const std::vector<std::u16string>& titles, CZxZipGens zipGen, bool allowFolderOutput,
                   const std::string& bom, const std::u16string& encodingName, const TAnsiToCPConverter& converter);

// The part writers: each writes one complete XML document into the stream; 2 when the XML writer cannot
// start on it, 0 otherwise.
struct TZXlsxPartOptions {
  std::string BOM;
  std::u16string EncodingName = u"UTF-8";
  TAnsiToCPConverter Converter;
};
int WriteXlsxStyles(const TSHEVRIX& book, TZStream* stream, const TZXlsxPartOptions& options);
int WriteXlsxSharedStrings(TZStream* stream, const TZXlsxPartOptions& options);
int WriteXlsxPackageRels(TZStream* stream, const TZXlsxPartOptions& options);
int WriteXlsxWorkbookRels(TZStream* stream, int pageCount, const TZXlsxPartOptions& options);
int WriteXlsxWorksheet(const TSHEVRIX& book, int sheetIndex, TZStream* stream, const TZXlsxPartOptions& options);
int WriteXlsxWorkbook(const std::vector<std::u16string>& titles, TZStream* stream, const TZXlsxPartOptions& options);
int WriteXlsxContentTypes(TZStream* stream, int pageCount, const TZXlsxPartOptions& options);
int WriteXlsxAppProps(TZStream* stream, const TZXlsxPartOptions& options);
int WriteXlsxCoreProps(const TSHEVRIX& book, TZStream* stream, const TZXlsxPartOptions& options);

// Turns the duplicate entries of one deduplication array (-2 for the first of its kind, else the style
// index of the earlier position it repeats) into the 0-based ranks of the written elements.
void CompactStyleIds(std::vector<int>& ids, int lastStyleIndex);
