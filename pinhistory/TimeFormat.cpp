#include "pinhistory/TimeFormat.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Printf(const char* format, double a, double b = 0, double c = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

std::string Fixed(double value, int decimals, const char* unit) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f %s", decimals, value, unit);
  return buf;
}

// Digits after the point that a step of `step` units needs.
int Decimals(double step) {
  if (step >= 1) return 0;
  return static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

}  // namespace

double AxisStepUs(double minUs) {
  if (!(minUs > 0)) return 1;
  constexpr double kMinute = 60e6;
  if (minUs > 30e6) {
    for (double m : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 360.0, 720.0})
      if (m * kMinute >= minUs) return m * kMinute;
    return std::ceil(minUs / (1440 * kMinute)) * 1440 * kMinute;
  }
  const double p = std::pow(10.0, std::floor(std::log10(minUs)));
  for (double f : {1.0, 2.0, 5.0, 10.0})
    if (f * p >= minUs * (1 - 1e-12)) return f * p;
  return 10 * p;
}

std::string AxisLabel(double us, double stepUs) {
  if (stepUs >= 60e6) {
    const auto total = static_cast<long long>(std::llround(us / 1e6));
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0) return Printf("%.0f:%02.0f:%02.0f", static_cast<double>(h), static_cast<double>(m), static_cast<double>(s));
    return Printf("%.0f:%02.0f", static_cast<double>(m), static_cast<double>(s));
  }
  if (stepUs >= 1000) return Fixed(us / 1e6, Decimals(stepUs / 1e6), "s");
  if (stepUs >= 1) return Fixed(us / 1e3, Decimals(stepUs / 1e3), "ms");
  return Printf("%.0f \xC2\xB5s", us);
}

std::string FormatDuration(double us) {
  const double a = std::fabs(us);
  const char* sign = us < 0 ? "-" : "";
  std::string s;
  if (a < 1000) {
    s = Printf("%.0f \xC2\xB5s", a);
  } else if (a < 1e6) {
    s = Printf("%.1f ms", a / 1e3);
  } else if (a < 60e6) {
    s = Printf("%.3f s", a / 1e6);
  } else {
    const double total = a / 1e6;
    s = Printf("%.0f:%04.1f", std::floor(total / 60), std::fmod(total, 60));
  }
  return sign + s;
}
