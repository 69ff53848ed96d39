// Counts heap allocations of the workbook model: an empty cell owns no heap memory, so a grid costs
// allocations per storage block, not per cell.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "sheet/shevrix.h"

namespace {
thread_local long g_allocations = 0;
thread_local bool g_counting = false;

void* CountedAlloc(std::size_t size) {
  if (g_counting) ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedAlloc(size); }
void* operator new[](std::size_t size) { return CountedAlloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

long AllocationsOf(void (*action)(TZSheet&), TZSheet& sheet) {
  g_allocations = 0;
  g_counting = true;
  action(sheet);
  g_counting = false;
  return g_allocations;
}

TEST(ZxModelMemory, EmptyCellsAllocateNothing) {
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  const long grid = AllocationsOf(
      [](TZSheet& t) {
        t.SetColCount(100);
        t.SetRowCount(2000);
      },
      s);
  // 200,000 cells and 2,100 row and column options; the allocations are those of the storage blocks.
  EXPECT_LT(grid, 200000 / 8);

  const long touches = AllocationsOf(
      [](TZSheet& t) {
        for (int c = 0; c < t.ColCount(); ++c)
          for (int r = 0; r < t.RowCount(); ++r) {
            TZCell* cell = t.Cell(c, r);
            cell->SetHRef(u"");
            cell->SetComment(u"");
            cell->SetCellStyle(2);
            cell->SetData(u"short");  // fits the string's inline storage
            (void)cell->Formula();
          }
      },
      s);
  EXPECT_EQ(touches, 0);

  const long notes = AllocationsOf([](TZSheet& t) { t.Cell(5, 5)->SetComment(u"x"); }, s);
  EXPECT_EQ(notes, 1);  // the block of rarely used texts
  const long cleared = AllocationsOf([](TZSheet& t) { t.Cell(5, 5)->SetComment(u""); }, s);
  EXPECT_EQ(cleared, 0);
}

}  // namespace
