// The door to a family tree on disk; see FamilyTreeFile.h.
#include "sources/FamilyTreeFile.h"

#include "sources/At4Reader.h"
#include "sources/At5Reader.h"
#include "sources/Unit3.h"

#include <memory>

TFamilyTreeType FamilyTreeType(const QString& path) {
  const QString ext = path.right(3).toUpper();
  if (ext == u"GED") return TFamilyTreeType::Gedcom;
  if (ext == u"AT4") return TFamilyTreeType::At4;
  if (ext == u"AT5") return TFamilyTreeType::At5;
  return TFamilyTreeType::Unknown;
}

bool LoadFamilyTree(Model& model, const QString& path, const GedProgress& progress, const QString& nameTemplate) {
  switch (FamilyTreeType(path)) {
    case TFamilyTreeType::Gedcom:
      Ged_Indi(model, path, progress, nameTemplate);
      return true;
    case TFamilyTreeType::At5: {
      std::unique_ptr<TDataModule3> own;
      TDataModule3* dm = DataModule3();
      if (!dm) {
        own = std::make_unique<TDataModule3>();
        dm = own.get();
      }
      TAt5Reader(model, *dm).At5_Indi(path, nameTemplate, progress);
      return true;
    }
    case TFamilyTreeType::At4: {
      std::unique_ptr<TDataModule2> own;
      TDataModule2* dm = DataModule2();
      if (!dm) {
        own = std::make_unique<TDataModule2>();
        dm = own.get();
      }
      TAt4Reader(model, *dm).At4_Indi(path, progress);
      return true;
    }
    case TFamilyTreeType::Unknown:
      break;
  }
  return false;
}
