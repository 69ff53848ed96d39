// The data module that holds the database components of the ".at4" reader. Until that reader exists it
// holds only what the main window touches: the ".at4" database component, closed at exit.
// Created by the main block before the main window. Main thread only.
#pragma once

#include <QObject>

// The ".at4" database component: closing an unconnected component does nothing.
class TNRDDatabase {
 public:
  bool Connected() const { return connected_; }
  int RefCount() const { return refCount_; }
  void Close() {
    connected_ = false;
    refCount_ = 0;
  }

 private:
  bool connected_ = false;
  int refCount_ = 0;
};

class TDataModule2 : public QObject {
  Q_OBJECT
 public:
  explicit TDataModule2(QObject* owner);
  ~TDataModule2() override;
  TNRDDatabase dbAT4;
};

// The program's data modules, or null before the main block created them.
TDataModule2* DataModule2();
// TDataModule3, the ".at5" data module, lives with its reader in sources/Unit3.h.
