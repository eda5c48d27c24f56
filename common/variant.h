// The value that crosses late-bound calls: empty, null, Boolean, 32-bit
// integer, double, text (UTF-8), object reference or array. Conversions follow
// the scripting model's rules (CStr, CBool, CLng, CDbl) and raise its run-time
// errors (13 "Type mismatch", 6 "Overflow", 94 "Invalid use of Null").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quill {

class Dispatch;
using ObjectRef = std::shared_ptr<Dispatch>;

struct Null {
  bool operator==(const Null&) const = default;
};

class Variant {
 public:
  using Array = std::vector<Variant>;
  enum class Type { Empty, Null, Boolean, Long, Double, String, Object, Array };

  Variant() = default;
  Variant(Null) : value_(Null{}) {}
  Variant(bool b) : value_(b) {}
  Variant(int32_t n) : value_(n) {}
  Variant(int64_t n);  // Long when it fits, else Double
  Variant(double d) : value_(d) {}
  Variant(std::string s) : value_(std::move(s)) {}
  Variant(std::string_view s) : value_(std::string(s)) {}
  Variant(const char* s) : value_(std::string(s)) {}
  Variant(ObjectRef o) : value_(std::move(o)) {}
  template <class T>
  Variant(std::shared_ptr<T> o) : value_(ObjectRef(std::move(o))) {}
  Variant(Array a) : value_(std::make_shared<const Array>(std::move(a))) {}
  Variant(std::vector<std::string> texts);

  Type type() const noexcept { return static_cast<Type>(value_.index()); }
  bool isEmpty() const noexcept { return type() == Type::Empty; }
  bool isNull() const noexcept { return type() == Type::Null; }
  bool isText() const noexcept { return type() == Type::String; }
  bool isObject() const noexcept { return type() == Type::Object; }
  bool isArray() const noexcept { return type() == Type::Array; }
  bool isNumber() const noexcept { return type() == Type::Long || type() == Type::Double; }

  // Direct access without conversion; nullptr when the type differs.
  const std::string* text() const noexcept { return std::get_if<std::string>(&value_); }

  std::string toText() const;  // CStr
  bool toBool() const;         // CBool
  int32_t toLong() const;      // CLng (rounds half to even)
  double toDouble() const;     // CDbl
  ObjectRef toObject() const;  // the reference (nullptr for Nothing); 13 for other types
  const Array& toArray() const;  // 13 unless an array

  template <class T>
  std::shared_ptr<T> as() const {
    return std::dynamic_pointer_cast<T>(toObject());
  }

  // IsNumeric: a number, a Boolean, or a text that reads as a number.
  bool isNumeric() const;
  // The whole number this value reads as (a number without a fraction, or a
  // text of optional sign and digits), if any. Used where an argument may be
  // either a position or a name.
  std::optional<int64_t> asWholeNumber() const;

  bool operator==(const Variant& other) const;

 private:
  std::variant<std::monostate, Null, bool, int32_t, double, std::string, ObjectRef,
               std::shared_ptr<const Array>>
      value_;
};

// The text form of a double as the scripting model prints it: up to 15
// significant digits, exponent form ("1E+20", "1.5E-07") for very large or
// small magnitudes.
std::string formatNumber(double d);

// Parses a text as the scripting model reads numbers: surrounding blanks
// allowed, optional sign, digits with an optional fraction and exponent,
// "&H" hexadecimal. Returns nothing when the text is not a number.
std::optional<double> parseNumber(std::string_view text);

}  // namespace quill
