#include "generator/import/cell_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quill::xls {

void numberText(double value, std::string& out) {
  char buf[400];
  if (value == 0) {  // also -0
    out.assign("0");
    return;
  }
  if (std::isfinite(value) && value == std::trunc(value)) {
    if (std::fabs(value) < 9.0e18) {
      auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value));
      out.assign(buf, r.ptr);
    } else {
      int n = std::snprintf(buf, sizeof buf, "%.0f", value);  // exact for whole doubles
      out.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
    }
    return;
  }
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.assign(buf, r.ptr);
}

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yy + (m <= 2));
}

constexpr int64_t kDays1899_12_30 = -25569;  // relative to 1970-01-01
constexpr int64_t kDays1904_01_01 = -24107;

}  // namespace

bool dateText(double serial, bool date1904, std::string& out) {
  if (!(serial >= 0) || serial > 2958465.99999999) return false;  // NaN too
  int64_t seconds = std::llround(serial * 86400.0);
  int64_t day = seconds / 86400;
  int64_t secOfDay = seconds % 86400;
  char buf[32];
  int n = 0;
  if (day == 0 && secOfDay != 0) {
    // A time without a date: the date part is the epoch, which the sheet does not show.
    n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(secOfDay / 3600),
                      static_cast<int>(secOfDay / 60 % 60), static_cast<int>(secOfDay % 60));
    out.assign(buf, n);
    return true;
  }
  int y;
  unsigned m, d;
  if (date1904) {
    civilFromDays(kDays1904_01_01 + day, y, m, d);
  } else if (day == 60) {
    // The 1900 system counts a 29 February 1900; show it as the sheet does.
    y = 1900, m = 2, d = 29;
  } else if (day < 60) {
    civilFromDays(kDays1899_12_30 + day + 1, y, m, d);
  } else {
    civilFromDays(kDays1899_12_30 + day, y, m, d);
  }
  if (secOfDay == 0) {
    n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
  } else {
    n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", y, m, d,
                      static_cast<int>(secOfDay / 3600), static_cast<int>(secOfDay / 60 % 60),
                      static_cast<int>(secOfDay % 60));
  }
  out.assign(buf, n);
  return true;
}

bool isDateFormat(std::string_view code) {
  // Look for date and time symbols outside quoted text, escaped characters,
  // bracketed colours/conditions/locales, and the operands of _ and *.
  bool sawDate = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = code[i];
    switch (c) {
      case '"': {
        size_t close = code.find('"', i + 1);
        if (close == std::string_view::npos) return sawDate;
        i = close;
        break;
      }
      case '\\':
      case '_':
      case '*':
        ++i;
        break;
      case '[': {
        size_t close = code.find(']', i + 1);
        if (close == std::string_view::npos) return sawDate;
        // Elapsed time: [h], [mm], [ss].
        std::string_view inner = code.substr(i + 1, close - i - 1);
        if (!inner.empty() && inner.find_first_not_of("hHmMsS") == std::string_view::npos)
          sawDate = true;
        i = close;
        break;
      }
      case 'y': case 'Y': case 'd': case 'D': case 'm': case 'M':
      case 'h': case 'H': case 's': case 'S':
        sawDate = true;
        break;
      default:
        break;
    }
  }
  if (sawDate) {
    // "General" spells some of these letters without being a date.
    std::string lowered;
    lowered.reserve(code.size());
    for (char c : code) lowered.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    if (lowered.find("general") != std::string::npos) {
      // Only a date when a real date symbol appears besides the word.
      std::string rest = lowered;
      for (size_t p; (p = rest.find("general")) != std::string::npos;) rest.erase(p, 7);
      return isDateFormat(rest);
    }
  }
  return sawDate;
}

bool isBuiltinDateFormat(uint16_t index) {
  return (index >= 14 && index <= 22) || (index >= 27 && index <= 36) ||
         (index >= 45 && index <= 47) || (index >= 50 && index <= 58) ||
         (index >= 71 && index <= 81);
}

}  // namespace quill::xls
