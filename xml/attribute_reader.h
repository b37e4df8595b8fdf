// Read operations shared by every kind of element: all of them are defined in terms of the
// element's own FindAttribute and name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace menuconv {

// Leading white space, an optional sign, decimal digits up to the first other byte; no
// digits give 0, values beyond the signed 32-bit range give the nearest limit.
int32_t ParseDecimalInt(std::string_view text);

std::string FormatDecimalInt(int32_t value);

template <class Derived>
class AttributeReader {
 public:
  // The value stored under the name, or the empty string when the name is absent.
  std::string GetAttribute(std::string_view name) const {
    const std::optional<std::string_view> value = self().FindAttribute(name);
    return value ? std::string(*value) : std::string();
  }

  // False (and `value` untouched) when the name is absent; otherwise its decimal value.
  bool GetAttributeInt(std::string_view name, int32_t& value) const {
    const std::optional<std::string_view> text = self().FindAttribute(name);
    if (!text) return false;
    value = ParseDecimalInt(*text);
    return true;
  }

  bool HasName(std::string_view text) const { return self().Name() == text; }

 private:
  const Derived& self() const { return static_cast<const Derived&>(*this); }
};

}  // namespace menuconv
