// Cell values to text. Numbers go through std::to_chars with 15 significant
// digits (the "%.15G" rule), whole numbers below 10^15 through the integer
// conversion, which gives the same digits faster. Dates are day counts
// turned into civil dates with the usual era arithmetic; the 1900 date
// system's day 60 is the non-existent 29 February 1900 that spreadsheets
// count.
#include "generator/import/cell_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quill::cells {

void numberText(double value, std::string& out) {
  if (value == 0 || !std::isfinite(value)) {  // -0 too
    out.assign(value == 0 ? "0" : "#NUM!");
    return;
  }
  char buf[40];
  if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value));
    out.assign(buf, r.ptr);
    return;
  }
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  for (char* p = buf; p < r.ptr; ++p)
    if (*p == 'e') *p = 'E';
  out.assign(buf, r.ptr);
}

bool parseNumber(std::string_view text, double& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(value);
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

// Civil date to days since 1970-01-01 (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int64_t kDays1899_12_30 = -25569;  // relative to 1970-01-01
constexpr int64_t kDays1904_01_01 = -24107;

void appendDateTime(int y, unsigned m, unsigned d, int64_t secOfDay, std::string& out) {
  char buf[32];
  int n;
  if (secOfDay == 0) {
    n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
  } else {
    n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", y, m, d,
                      static_cast<int>(secOfDay / 3600), static_cast<int>(secOfDay / 60 % 60),
                      static_cast<int>(secOfDay % 60));
  }
  out.assign(buf, static_cast<size_t>(n));
}

// Reads exactly n digits at text[pos]; false when they are not there.
bool digits(std::string_view text, size_t& pos, size_t n, unsigned& value) {
  if (text.size() - pos < n) return false;
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  pos += n;
  return true;
}

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
  appendDateTime(y, m, d, secOfDay, out);
  return true;
}

bool isoDateText(std::string_view iso, std::string& out) {
  size_t pos = 0;
  unsigned y, m, d, hh = 0, mm = 0, ss = 0;
  if (!digits(iso, pos, 4, y) || pos >= iso.size() || iso[pos++] != '-' || !digits(iso, pos, 2, m) ||
      pos >= iso.size() || iso[pos++] != '-' || !digits(iso, pos, 2, d))
    return false;
  double fraction = 0;
  if (pos < iso.size() && (iso[pos] == 'T' || iso[pos] == ' ')) {
    ++pos;
    if (!digits(iso, pos, 2, hh) || pos >= iso.size() || iso[pos++] != ':' || !digits(iso, pos, 2, mm))
      return false;
    if (pos < iso.size() && iso[pos] == ':') {
      ++pos;
      if (!digits(iso, pos, 2, ss)) return false;
      if (pos < iso.size() && (iso[pos] == '.' || iso[pos] == ',')) {
        double scale = 0.1;
        for (++pos; pos < iso.size() && iso[pos] >= '0' && iso[pos] <= '9'; ++pos, scale /= 10)
          fraction += (iso[pos] - '0') * scale;
      }
    }
  }
  // A zone (Z, +hh:mm, -hh:mm) may follow; the sheet shows local time, so it is ignored.
  if (pos < iso.size() && iso[pos] != 'Z' && iso[pos] != '+' && iso[pos] != '-') return false;
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31 || hh > 24 || mm > 59 || ss > 60) return false;
  int64_t day = daysFromCivil(y, m, d);
  int cy;
  unsigned cm, cd;
  civilFromDays(day, cy, cm, cd);
  if (cm != m || cd != d) return false;  // 31 April
  int64_t seconds = std::llround(static_cast<double>(hh * 3600 + mm * 60 + ss) + fraction);
  if (seconds >= 86400) civilFromDays(day += seconds / 86400, cy, cm, cd);
  seconds %= 86400;
  if (cy > 9999) return false;
  appendDateTime(cy, cm, cd, seconds, out);
  return true;
}

bool parseIsoDuration(std::string_view iso, double& days) {
  size_t pos = 0;
  bool negative = false;
  if (pos < iso.size() && iso[pos] == '-') negative = true, ++pos;
  if (pos >= iso.size() || iso[pos++] != 'P') return false;
  double seconds = 0;
  bool inTime = false, any = false;
  while (pos < iso.size()) {
    if (iso[pos] == 'T') {
      if (inTime) return false;
      inTime = true;
      ++pos;
      continue;
    }
    double n;
    auto r = std::from_chars(iso.data() + pos, iso.data() + iso.size(), n);
    if (r.ec != std::errc() || r.ptr == iso.data() + iso.size() || !(n >= 0)) return false;
    pos = static_cast<size_t>(r.ptr - iso.data());
    char unit = iso[pos++];
    if (!inTime && unit == 'D') seconds += n * 86400;
    else if (!inTime && (unit == 'Y' || unit == 'M') && n == 0) {}  // "P0Y0M0DT..."
    else if (inTime && unit == 'H') seconds += n * 3600;
    else if (inTime && unit == 'M') seconds += n * 60;
    else if (inTime && unit == 'S') seconds += n;
    else return false;
    any = true;
  }
  if (!any || !std::isfinite(seconds)) return false;
  days = (negative ? -seconds : seconds) / 86400.0;
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

}  // namespace quill::cells
