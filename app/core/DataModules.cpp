#include "app/core/DataModules.h"

namespace {
TDataModule2* g_dm2 = nullptr;
TDataModule3* g_dm3 = nullptr;
}  // namespace

TDataModule2::TDataModule2(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DataModule2"));
  g_dm2 = this;
}
TDataModule2::~TDataModule2() {
  if (g_dm2 == this) g_dm2 = nullptr;
}
TDataModule3::TDataModule3(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DataModule3"));
  g_dm3 = this;
}
TDataModule3::~TDataModule3() {
  if (g_dm3 == this) g_dm3 = nullptr;
}
TDataModule2* DataModule2() { return g_dm2; }
TDataModule3* DataModule3() { return g_dm3; }
