// The data modules that hold the database components of the ".at4" and ".at5" readers. Until those readers
// exist they hold only what the main window touches: the ".at4" database component, closed at exit.
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

class TDataModule3 : public QObject {
  Q_OBJECT
 public:
  explicit TDataModule3(QObject* owner);
  ~TDataModule3() override;
};

// The program's data modules, or null before the main block created them.
TDataModule2* DataModule2();
TDataModule3* DataModule3();
