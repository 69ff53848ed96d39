#include "NrdCheckMaintenance.h"

#include <filesystem>
#include <ostream>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDSession.h"

bool RunNrdCheckMaintenance(const std::string& file, const std::string& password, const NrdCheckMaintenance& what,
                            std::ostream& out, std::ostream& err) {
  nrd::EngineStartup();
  bool ok = true;
  try {
    nrd::TNRDDatabase db(nullptr);
    db.SetDatabaseName("nrd-check");
    db.SetDatabaseFileName(file);
    db.SetPassword(password);
    db.SetSilentMode(true);
    // A file that was not closed cleanly is what --repair is for; the other operations copy it
    // as it reads.
    db.SetNoRequestAutoRepair(true);
    std::error_code ec;
    if (what.repair) {
      const std::string log = db.RepairDatabase();
      if (log.empty()) {
        out << "repaired: nothing skipped\n";
      } else if (std::filesystem::exists(file + ".bak", ec)) {
        out << "repaired, the original kept as " << file << ".bak; skipped:\n" << log << "\n";
      } else {
        err << "repair failed: " << log << "\n";
        ok = false;
      }
    }
    if (ok && what.compact) {
      const auto before = std::filesystem::file_size(file, ec);
      if (db.CompactDatabase()) {
        out << "compacted: " << before << " -> " << std::filesystem::file_size(file, ec) << " bytes\n";
      } else {
        err << "compaction stopped\n";
        ok = false;
      }
    }
    if (ok && what.setPassword) {
      const std::string log = db.ChangePassword(what.newPassword);
      if (log.empty()) {
        out << (what.newPassword.empty() ? "password removed\n" : "password set\n");
      } else {
        err << "password change failed: " << log << "\n";
        ok = false;
      }
    }
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    ok = false;
  }
  nrd::EngineShutdown();
  return ok;
}
