#include "app/PinViewOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <string>
#include <string_view>

#include "app/ViewSettings.h"

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool ParsePinViewOptions(int argc, const char* const* argv, PinViewOptions& options, std::string& error) {
  std::set<std::string> seen;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!arg.starts_with("--")) continue;
    std::string_view name = arg.substr(2);
    std::optional<std::string_view> inlineValue;
    if (const auto eq = name.find('='); eq != std::string_view::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if (name != "series" && name != "pin-script" && name != "render" && name != "ticks" && name != "record" &&
        name != "seconds" && name != "rate" && name != "pins" && name != "timeline" && name != "adapter" &&
        name != "zoom" && name != "gdb-port") {
      continue;
    }
    std::string_view value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      error = "option --" + std::string(name) + " needs a value";
      return false;
    }
    if (name == "series") {
      if (EqualsNoCase(value, "cortex-m")) {
        options.series = ChipSeries::CortexM;
      } else if (EqualsNoCase(value, "8051")) {
        options.series = ChipSeries::Ostra1T;
      } else {
        error = "--series takes cortex-m or 8051, not '" + std::string(value) + "'";
        return false;
      }
    } else if (name == "pin-script") {
      if (value.empty()) {
        error = "--pin-script needs a path";
        return false;
      }
      options.pinScript = value;
    } else if (name == "render") {
      if (value.empty()) {
        error = "--render needs a file name";
        return false;
      }
      options.renderFile = value;
    } else if (name == "adapter") {
      unsigned n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() || n > kMaxAdapterNumber) {
        error = "--adapter takes a number from 0 to " + std::to_string(kMaxAdapterNumber) + ", not '" +
                std::string(value) + "'";
        return false;
      }
      options.adapter = n;
    } else if (name == "gdb-port") {
      unsigned n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() || n > 65535) {
        error = "--gdb-port takes a port from 0 to 65535, not '" + std::string(value) + "'";
        return false;
      }
      options.gdbPort = static_cast<uint16_t>(n);
    } else if (name == "record") {
      if (value.empty()) {
        error = "--record needs a file name";
        return false;
      }
      options.recordFile = value;
    } else if (name == "seconds") {
      double s = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), s);
      if (ec != std::errc() || end != value.data() + value.size() || !(s >= kMinRecordSeconds) ||
          s > kMaxRecordSeconds) {
        error = "--seconds takes a duration from 0.1 to 86400 seconds, not '" + std::string(value) + "'";
        return false;
      }
      options.seconds = s;
    } else if (name == "rate") {
      int n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() || n < kMinRecordRateMs || n > kMaxRecordRateMs) {
        error = "--rate takes a period from 10 to 60000 ms, not '" + std::string(value) + "'";
        return false;
      }
      options.rateMs = n;
      options.rateGiven = true;
    } else if (name == "zoom") {
      int percent = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), percent);
      if (ec != std::errc() || end != value.data() + value.size() || percent % 10 != 0 ||
          percent < kZoomMinTenths * 10 || percent > kZoomMaxTenths * 10) {
        error = "--zoom takes a percentage from " + std::to_string(kZoomMinTenths * 10) + " to " +
                std::to_string(kZoomMaxTenths * 10) + " in steps of 10, not '" + std::string(value) + "'";
        return false;
      }
      options.zoomTenths = percent / 10;
    } else if (name == "pins") {
      options.pins = value;
    } else if (name == "timeline") {
      options.timeline = value;
    } else {
      int n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() || n < 0) {
        error = "--ticks takes a count of 0 or more, not '" + std::string(value) + "'";
        return false;
      }
      options.ticks = n;
    }
    seen.insert(std::string(name));
  }
  if (!options.recordFile.empty() && !seen.count("seconds")) {
    error = "--record needs --seconds N, the time to record";
    return false;
  }
  if (options.recordFile.empty() && (seen.count("seconds") || seen.count("pins"))) {
    error = "--seconds and --pins go with --record FILE.vcd";
    return false;
  }
  if (!options.recordFile.empty() && !options.renderFile.empty()) {
    error = "--record and --render cannot be used together";
    return false;
  }
  return true;
}

std::string RenderJsonPath(const std::string& pngPath) {
  if (pngPath.size() >= 4 && EqualsNoCase(std::string_view(pngPath).substr(pngPath.size() - 4), ".png")) {
    return pngPath.substr(0, pngPath.size() - 4) + ".json";
  }
  return pngPath + ".json";
}
