#include "app/core/MainPerson.h"

MainPersonChooser::MainPersonChooser(Model& model) : m_(model), stamp_(model.aIndi.size(), 0) {}

bool MainPersonChooser::Visited(std::int64_t p) const { return stamp_[static_cast<std::size_t>(p)] == round_; }

void MainPersonChooser::Visit(std::int64_t p) {
  stamp_[static_cast<std::size_t>(p)] = round_;
  ++lines_;
}

std::int32_t& MainPersonChooser::Memo(std::int64_t p, int direction) {
  TINDI& x = m_.aIndi[static_cast<std::size_t>(p)];
  return direction == 0 ? x.iPr : x.iPot;
}

void MainPersonChooser::Collect(std::int64_t a, int direction, std::vector<std::int64_t>& out) const {
  out.clear();
  const auto nIndi = static_cast<std::int64_t>(m_.aIndi.size());
  const auto nFam = static_cast<std::int64_t>(m_.aFam.size());
  auto take = [&](std::int64_t x) {
    if (x > 0 && x < nIndi && !Visited(x)) out.push_back(x);
  };
  const TINDI& p = m_.aIndi[static_cast<std::size_t>(a)];
  if (direction == 0) {
    if (p.FAMC >= 0 && p.FAMC < nFam) {
      const TFAM& f = m_.aFam[static_cast<std::size_t>(p.FAMC)];
      take(f.WIFE);
      take(f.HUSB);
    }
  } else {
    for (std::int64_t fi : p.FAMS)
      if (fi > 0 && fi < nFam)
        for (std::int64_t c : m_.aFam[static_cast<std::size_t>(fi)].CHIL) take(c);
  }
}

int MainPersonChooser::CountRelatives(std::int64_t person, int direction) {
  ++round_;
  if (round_ == 0) {  // the marks wrapped: start them afresh
    std::fill(stamp_.begin(), stamp_.end(), 0);
    round_ = 1;
  }
  lines_ = 0;
  struct Frame {
    std::vector<std::int64_t> list;
    std::size_t next = 0;
    std::int64_t pending = 0;    // relative whose own count runs above this frame
    std::int64_t pendingLine = 0;
  };
  std::vector<Frame> stack(1);
  Collect(person, direction, stack.back().list);
  while (!stack.empty()) {
    Frame& fr = stack.back();
    if (fr.pending != 0) {
      Memo(fr.pending, direction) = static_cast<std::int32_t>(lines_ - fr.pendingLine - 1);
      fr.pending = 0;
    }
    if (fr.next >= fr.list.size()) {
      stack.pop_back();
      continue;
    }
    const std::int64_t x = fr.list[fr.next++];
    const std::int64_t line = lines_;
    Visit(x);
    const std::int32_t memo = Memo(x, direction);
    if (memo >= 1) {
      lines_ += memo;  // x's relatives counted before: blank lines
    } else if (memo == -1) {
      fr.pending = x;
      fr.pendingLine = line;
      Frame next;
      Collect(x, direction, next.list);
      stack.push_back(std::move(next));  // `fr` is not used after this
    }
  }
  return static_cast<int>(lines_);
}

int MainPersonChooser::MainPersonScore(std::int64_t p, int mode) {
  if (p <= 0 || p >= static_cast<std::int64_t>(m_.aIndi.size())) return 0;
  TINDI& x = m_.aIndi[static_cast<std::size_t>(p)];
  if (mode == 0 && !x.FAMS.empty()) return 0;
  if (mode == 1 && x.FAMC != 0) return 0;
  if (mode == 0 || mode == 2)
    if (x.iPr == -1) x.iPr = CountRelatives(p, 0);
  if (mode == 1 || mode == 2)
    if (x.iPot == -1) x.iPot = CountRelatives(p, 1) - 1;
  const TINDI& y = m_.aIndi[static_cast<std::size_t>(p)];
  if (mode == 0) return y.iPr;
  if (mode == 1) return y.iPot;
  return y.iPr + y.iPot;
}

std::int64_t ChooseMainPerson(Model& model, int mode,
                              const std::function<void(std::int64_t, std::int64_t)>& progress) {
  MainPersonChooser chooser(model);
  const auto n = static_cast<std::int64_t>(model.aIndi.size());
  int best = 0;
  std::int64_t bestPerson = 0;
  for (std::int64_t i = 1; i < n; ++i) {
    if (progress && i % 100 == 0) progress(i, n - 1);
    const int s = chooser.MainPersonScore(i, mode);
    if (s > best) {
      best = s;
      bestPerson = i;
    }
  }
  return bestPerson;
}
