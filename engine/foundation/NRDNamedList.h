// Named lists: the one owning list of definitions found by name that the engine's field, index and
// parameter collections are built on, and the one name comparison they share.
// Names compare case-insensitively through the code page (AnsiUpperCase), so "ИМЯ" and "имя" are one
// name, whatever the collection. The list owns its items; a reference or pointer to an item stays valid
// until that item is deleted or the list is cleared or assigned. Not thread-safe: the owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/foundation/NRDText.h"

namespace nrd {

// Equal names under the code page's upper case.
inline bool SameText(std::string_view a, std::string_view b) { return AnsiSameText(a, b); }

// An owning list of T whose name is the member `Name`. Copies of items are made by T::Assign when T has
// one (a definition that copies more than its members, such as variant values), else by T's copy.
template <class T, std::string T::*Name>
class TNRDNamedList {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  // REQUIRES: 0 <= i < Count() (else std::out_of_range).
  T& Item(std::int32_t i) const { return *items_.at(static_cast<std::size_t>(i)); }
  void Set(std::int32_t i, std::unique_ptr<T> item) { items_.at(static_cast<std::size_t>(i)) = std::move(item); }
  // A new default item at the end.
  T& AddNew() {
    items_.push_back(std::make_unique<T>());
    return *items_.back();
  }
  // REQUIRES: 0 <= i < Count() (else std::out_of_range).
  void Delete(std::int32_t i) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(IndexCheck(i)));
  }
  void Clear() { items_.clear(); }

  // The position of the first item named `name`; -1 when none.
  std::int32_t IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (SameText((*items_[i]).*Name, name)) return static_cast<std::int32_t>(i);
    return -1;
  }
  // The first item named `name`; null when none.
  T* Find(std::string_view name) const {
    const std::int32_t i = IndexOf(name);
    return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
  }

  // Clears, then appends a copy of every item of `source` that `keep` accepts, in order. Assigning a list
  // to itself changes nothing.
  template <class Keep>
  void Assign(const TNRDNamedList& source, Keep keep) {
    if (&source == this) return;
    Clear();
    for (const auto& item : source.items_) {
      if (!keep(*item)) continue;
      if constexpr (requires(T& to, const T& from) { to.Assign(from); }) AddNew().Assign(*item);
      else items_.push_back(std::make_unique<T>(*item));
    }
  }
  void Assign(const TNRDNamedList& source) {
    Assign(source, [](const T&) { return true; });
  }

  // Iteration over the owned items (std::unique_ptr<T>), in order.
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::size_t IndexCheck(std::int32_t i) const {
    (void)items_.at(static_cast<std::size_t>(i));
    return static_cast<std::size_t>(i);
  }

  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace nrd
