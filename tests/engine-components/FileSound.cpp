#include "FileSound.h"

#include <sstream>

#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDTableCheck.h"

bool FileSound(const std::string& file, const std::string& password) {
  nrd::TNRDDiskPageManager pm;
  nrd::TNRDPassword pw;
  pw.Password = password;
  bool readOnly = true, repairNeeded = false, multiUser = false;
  try {
    pm.OpenDatabase(file, pw, readOnly, repairNeeded, false, multiUser);
  } catch (...) {
    return false;
  }
  std::ostringstream out;
  const bool sound = nrd::CheckDatabaseTables(pm, out);
  try {
    pm.CloseDatabase();
  } catch (...) {
  }
  return sound;
}
