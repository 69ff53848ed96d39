#include "sheet/bookSaveXLSX.h"

#include "sheet/booksavecommon.h"
#include "sheet/bookxlsx.h"

namespace {

std::shared_ptr<TZBookSave> CreateXlsxFrom(const TZBookSave& source) {
  return std::make_shared<TZxXlsxSaver>(source);
}

}  // namespace

const TZBookSaveClass TZxXlsxSaver::Class{"TZxXlsxSaver", &TZxXlsxSaver::FormatNames, &CreateXlsxFrom};

std::vector<std::string> TZxXlsxSaver::FormatNames() {
  std::vector<std::string> names;
  for (const auto& name : SplitAtChar(
           u".XLSX*.XLSM*application/vnd.openxmlformats-officedocument.spreadsheetml.sheet*Excel 2007*"
           u"Excel 2010*Office 2007*Office 2010*Office Open XML*OOXML*OpenXML*ECMA-376*ISO/IEC 29500*ISO 29500",
           u'*'))
    names.push_back(Utf16ToXmlUtf8(name));
  return names;
}

int TZxXlsxSaver::InternalSave() {
  Finished();
  return SaveBookAsXlsx(*Book(), File(), PageNumbers(), PageTitles(), ZipGen(), false, BOMBytes(),
                        Utf8ToUtf16(CharSet()), Conv());
}
