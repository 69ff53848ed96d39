#include "app/core/DataModules.h"

namespace {
TDataModule2* g_dm2 = nullptr;
}  // namespace

TDataModule2::TDataModule2(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DataModule2"));
  g_dm2 = this;
}
TDataModule2::~TDataModule2() {
  if (g_dm2 == this) g_dm2 = nullptr;
}
TDataModule2* DataModule2() { return g_dm2; }
