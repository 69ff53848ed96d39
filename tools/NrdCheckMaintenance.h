// The maintenance nrd-check runs before its check (--compact, --repair, --set-password): each
// rebuilds the file through the database component and puts the new file in place only when it
// is complete. Kept apart from the check's own code, which works on the pages directly.
#pragma once

#include <iosfwd>
#include <string>

struct NrdCheckMaintenance {
  bool compact = false;
  bool repair = false;
  bool setPassword = false;
  std::string newPassword;
};

// Runs the asked maintenance on `file` (opened with `password`), saying what it did on `out`.
// False, with the reason on `err`, when it could not run; the file is then as it was.
bool RunNrdCheckMaintenance(const std::string& file, const std::string& password, const NrdCheckMaintenance& what,
                            std::ostream& out, std::ostream& err);
