// Components of the data-set layer: named objects that may own others, and the layer's error.
// Requires: one thread. Owns: the components given it as owner, freed with it (a component freed on
// its own leaves its owner's list). Guarantees: DatabaseError names the component in front.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

// ----- errors -----------------------------------------------------------------------------------------------

class TComponent;

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EDatabaseError; with a named component the message is "Name: message".
[[noreturn]] void DatabaseError(std::string_view message, const TComponent* component = nullptr);
[[noreturn]] void DatabaseErrorFmt(std::string_view format, TVarRecs args, const TComponent* component = nullptr);

// ----- components -------------------------------------------------------------------------------------------

// A named object that may own others: an owner frees what it owns when it is freed. A component
// freed on its own leaves its owner's list.
class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& value) { FName = value; }
  TComponent* Owner() const { return FOwner; }
  std::int32_t ComponentCount() const { return static_cast<std::int32_t>(FComponents.size()); }
  TComponent* Components(std::int32_t i) const { return FComponents.at(static_cast<std::size_t>(i)); }
  // The owned component of that name (case-insensitive), or null.
  TComponent* FindComponent(std::string_view name) const;

 protected:
  // Called on every owned component when one of them is about to be freed.
  virtual void Notification(TComponent* component);

 private:
  void RemoveComponent(TComponent* component);
  std::string FName;
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
};

}  // namespace nrd
