// The family-tree model's life cycle: empty elements and the program's one instance.
#include "app/core/Model.h"

Model::Model() { Reset(); }

void Model::Clear() {
  ++LoadCount;
  AbortFlag = false;
  aIndi.assign(1, TINDI{});
  aFam.assign(1, TFAM{});
  aNote.assign(1, TNOTE{});
  aIndi_.assign(1, TINDI_{});
  aLinkExclude.clear();
  aPers4.clear();
}

void Model::Reset() {
  Clear();
  aMarr.assign(1, TMarr{});
  GedHead = THEAD{};
}

Model& TheModel() {
  static Model model;
  return model;
}
