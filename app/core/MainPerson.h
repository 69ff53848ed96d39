// Automatic choice of the main (root) person: the person with the most ancestors (mode 0), the most
// descendants (mode 1) or the largest sum of both (mode 2). Counts are memoised in iPr/iPot of each person
// (-1 = not counted yet; the person list resets them after a load) and reused by later choices.
// The counting walks keep their own stack, so long chains cannot overflow the call stack. Single thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/core/Model.h"

class MainPersonChooser {
 public:
  explicit MainPersonChooser(Model& model);
  // Score of one person in a mode; computes and stores iPr/iPot when still -1.
  int MainPersonScore(std::int64_t person, int mode);
  // Number of lines the count of `person` in `direction` (0 parents, 1 children) appends to the visited
  // list, starting from an empty list (blank lines of memoised counts included).
  int CountRelatives(std::int64_t person, int direction);

 private:
  void Visit(std::int64_t person);
  bool Visited(std::int64_t person) const;
  void Collect(std::int64_t person, int direction, std::vector<std::int64_t>& out) const;
  std::int32_t& Memo(std::int64_t person, int direction);

  Model& m_;
  std::vector<std::uint32_t> stamp_;  // visited marks of the current count
  std::uint32_t round_ = 0;
  std::int64_t lines_ = 0;
};

// The best person of a mode (the lower index wins a tie), or 0 when nobody scores above 0.
// `progress` (may be empty) is called every 100 persons with (position, maximum).
std::int64_t ChooseMainPerson(Model& model, int mode,
                              const std::function<void(std::int64_t, std::int64_t)>& progress = {});
