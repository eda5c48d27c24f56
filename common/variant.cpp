#include "variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/ascii.h"
#include "automation_error.h"
#include "dispatch.h"

namespace quill {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

[[noreturn]] void typeMismatch() { throw runtimeError(kTypeMismatch); }

}  // namespace

Variant::Variant(int64_t n) {
  if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
    value_ = static_cast<int32_t>(n);
  else
    value_ = static_cast<double>(n);
}

Variant::Variant(std::vector<std::string> texts) {
  Array a;
  a.reserve(texts.size());
  for (auto& t : texts) a.emplace_back(std::move(t));
  value_ = std::make_shared<const Array>(std::move(a));
}

std::string formatNumber(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  std::string s(buf);
  // "%G" gives "1E+20" as "1E+20" and "1.5E-07" as "1.5E-07" already; it
  // leaves no trailing zeros. Only a three-digit exponent needs no change.
  return s;
}

std::optional<double> parseNumber(std::string_view text) {
  std::string_view s = trim(text);
  if (s.empty()) return std::nullopt;
  bool negative = false;
  if (s.front() == '+' || s.front() == '-') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    s.remove_prefix(2);
    uint64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || p != s.data() + s.size() || s.size() > 8) return std::nullopt;
    // Up to four digits are a signed 16-bit value, more a signed 32-bit one.
    double d = s.size() <= 4 ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
    return negative ? -d : d;
  }
  if (s.empty() || s.front() == '+' || s.front() == '-') return std::nullopt;
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return negative ? -v : v;
}

std::string Variant::toText() const {
  switch (type()) {
    case Type::Empty: return {};
    case Type::Null: throw runtimeError(kInvalidUseOfNull);
    case Type::Boolean: return std::get<bool>(value_) ? "True" : "False";
    case Type::Long: return std::to_string(std::get<int32_t>(value_));
    case Type::Double: return formatNumber(std::get<double>(value_));
    case Type::String: return std::get<std::string>(value_);
    case Type::Object:
    case Type::Array: break;
  }
  typeMismatch();
}

bool Variant::toBool() const {
  switch (type()) {
    case Type::Empty: return false;
    case Type::Null: throw runtimeError(kInvalidUseOfNull);
    case Type::Boolean: return std::get<bool>(value_);
    case Type::Long: return std::get<int32_t>(value_) != 0;
    case Type::Double: return std::get<double>(value_) != 0;
    case Type::String: {
      std::string_view s = trim(std::get<std::string>(value_));
      if (equalsIgnoringAsciiCase(s, "true")) return true;
      if (equalsIgnoringAsciiCase(s, "false")) return false;
      if (auto d = parseNumber(s)) return *d != 0;
      break;
    }
    case Type::Object:
    case Type::Array: break;
  }
  typeMismatch();
}

double Variant::toDouble() const {
  switch (type()) {
    case Type::Empty: return 0;
    case Type::Null: throw runtimeError(kInvalidUseOfNull);
    case Type::Boolean: return std::get<bool>(value_) ? -1 : 0;
    case Type::Long: return std::get<int32_t>(value_);
    case Type::Double: return std::get<double>(value_);
    case Type::String:
      if (auto d = parseNumber(std::get<std::string>(value_))) return *d;
      break;
    case Type::Object:
    case Type::Array: break;
  }
  typeMismatch();
}

int32_t Variant::toLong() const {
  if (type() == Type::Long) return std::get<int32_t>(value_);
  const double d = std::nearbyint(toDouble());  // default rounding: half to even
  if (!(d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()))
    throw runtimeError(kOverflow);
  return static_cast<int32_t>(d);
}

ObjectRef Variant::toObject() const {
  if (auto o = std::get_if<ObjectRef>(&value_)) return *o;
  typeMismatch();
}

const Variant::Array& Variant::toArray() const {
  if (auto a = std::get_if<std::shared_ptr<const Array>>(&value_)) return **a;
  typeMismatch();
}

bool Variant::isNumeric() const {
  switch (type()) {
    case Type::Boolean:
    case Type::Long:
    case Type::Double: return true;
    case Type::String: return parseNumber(std::get<std::string>(value_)).has_value();
    default: return false;
  }
}

std::optional<int64_t> Variant::asWholeNumber() const {
  switch (type()) {
    case Type::Long: return std::get<int32_t>(value_);
    case Type::Double: {
      const double d = std::get<double>(value_);
      if (std::trunc(d) == d && std::abs(d) < 9.0e18) return static_cast<int64_t>(d);
      return std::nullopt;
    }
    case Type::String: {
      std::string_view s = trim(std::get<std::string>(value_));
      if (!s.empty() && s.front() == '+') s.remove_prefix(1);
      int64_t v = 0;
      auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
      return v;
    }
    default: return std::nullopt;
  }
}

bool Variant::operator==(const Variant& other) const {
  if (type() == Type::Array && other.type() == Type::Array) return toArray() == other.toArray();
  return value_ == other.value_;
}

}  // namespace quill
