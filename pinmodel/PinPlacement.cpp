#include "pinmodel/PinPlacement.h"

#include <algorithm>

#include "pinmodel/Utf16Text.h"

namespace {

// Antialiased edges and glyphs reach a little past their boxes.
constexpr double kInkMargin = 3;

std::string Left(std::string_view s, size_t units) { return std::string(Utf16Left(s, units)); }

// The function texts of a pin split around the highlighted entry.
struct Column {
  std::string lead, highlight, trail;
  bool found = false;
};

Column SplitTexts(const std::vector<std::string>& texts, const std::string& highlight) {
  Column col;
  const auto it = std::find(texts.begin(), texts.end(), highlight);
  col.found = it != texts.end();
  if (!col.found) {
    size_t entries = 0;
    for (const auto& t : texts) {
      if (entries > static_cast<size_t>(kMaxColumnChars)) break;
      if (entries++ > 0) col.lead += ',';
      col.lead += Utf16Left(t, kMaxColumnChars);
    }
    col.lead = Left(col.lead, kMaxColumnChars);
    return col;
  }
  size_t units = 0;
  for (auto i = texts.begin(); i != it; ++i) {
    if (units >= static_cast<size_t>(kMaxColumnChars)) break;
    const std::string_view part = Utf16Left(*i, kMaxColumnChars);
    col.lead.append(part).push_back(',');
    units += Utf16Length(part) + 1;
  }
  col.lead = Left(col.lead, kMaxColumnChars);
  col.highlight = Left(*it, kMaxColumnChars);
  units = 0;
  for (auto i = it + 1; i != texts.end(); ++i) {
    if (units >= static_cast<size_t>(kMaxColumnChars)) break;
    const std::string_view part = Utf16Left(*i, kMaxColumnChars);
    col.trail.append(1, ',').append(part);
    units += Utf16Length(part) + 1;
  }
  col.trail = Left(col.trail, kMaxColumnChars);
  return col;
}

struct Placer {
  const PackageInfo& info;
  const PlacementOptions& options;
  const TextMeasure& measure;
  PackagePlacement& out;
  double z;
  double lineHeight;

  double Advance(std::string_view s) const { return s.empty() ? 0 : measure(TextFont::Pin, s).width; }

  // The runs of a column along `side` starting (bottom, right) or ending
  // (top, left) at `start`; `cross` is the other coordinate of the text
  // box. Returns the column's length.
  double PlaceColumn(const PinInfo& pin, const Column& col, PinSide side, double start, double cross,
                     std::vector<TextRun>& runs) const {
    const double leadLen = Advance(col.lead);
    auto add = [&](const std::string& text, uint32_t color, double along, double at) {
      if (text.empty()) return;
      TextRun r;
      r.text = text;
      r.color = color;
      switch (side) {
        case PinSide::Bottom: r.x = cross; r.y = at; break;
        case PinSide::Top: r.x = cross; r.y = at; r.along = along; break;
        case PinSide::Right:
        case PinSide::Left: r.x = at; r.y = cross; break;
      }
      runs.push_back(std::move(r));
    };
    if (!col.found) {
      switch (side) {
        case PinSide::Bottom:
        case PinSide::Right: add(col.lead, pin.normal_color, 0, start); break;
        case PinSide::Top: add(col.lead, pin.normal_color, -leadLen, start); break;
        case PinSide::Left: add(col.lead, pin.normal_color, 0, start - leadLen); break;
      }
      return leadLen;
    }
    const double hlLen = Advance(col.highlight);
    const double beforeTrail = Advance(col.lead + col.highlight + ',');
    const double trailLen = Advance(col.trail);
    const uint32_t n = pin.normal_color, h = pin.highlight_color;
    switch (side) {
      case PinSide::Bottom:
      case PinSide::Right:
        add(col.lead, n, 0, start);
        add(col.highlight, h, 0, start + leadLen);
        add(col.trail, n, 0, start + beforeTrail);
        break;
      case PinSide::Top:
        add(col.lead, n, -leadLen, start);
        add(col.highlight, h, -hlLen, start - leadLen);
        add(col.trail, n, -trailLen, start - beforeTrail);
        break;
      case PinSide::Left:
        add(col.lead, n, 0, start - leadLen);
        add(col.highlight, h, 0, start - leadLen - hlLen);
        add(col.trail, n, 0, start - beforeTrail - trailLen);
        break;
    }
    return col.trail.empty() ? leadLen + hlLen : beforeTrail + trailLen;
  }

  void PlaceSide(const std::vector<const PinInfo*>& pins, size_t& next, PinSide side) {
    const PackageLayout& l = out.layout;
    const int count = l.perSide[static_cast<int>(side)];
    const double s1 = l.s1, s2 = l.s2;
    for (int m = 1; m <= count && next < pins.size(); ++m) {
      const PinInfo& pin = *pins[next++];
      PinPlacement pp;
      pp.pin = static_cast<size_t>(&pin - info.pins.data());
      pp.side = side;
      pp.vertical = side == PinSide::Bottom || side == PinSide::Top;
      const CanvasRect cr = PinRect(l, side, m);
      const PixelRect r{cr.x * z, cr.y * z, cr.w * z, cr.h * z};
      pp.box = r;
      const std::string number = Left(pin.pin_no, kMaxPinNumberChars);
      const double numLen = Advance(number);
      // Without all functions a pin shows only its highlighted one.
      const bool hasTexts = !pin.texts.empty();
      const Column col = options.showAllFunctions || !hasTexts ? SplitTexts(pin.texts, pin.highlight_text)
                                                               : SplitTexts({pin.highlight_text}, pin.highlight_text);

      // Extent along the pin axis of the pin, its number and its text column.
      double lo = 0, hi = 0, numAt = 0, colAt = 0, cross = 0;
      switch (side) {
        case PinSide::Bottom:
          numAt = (828 + s2) * z;
          colAt = (869 + s2) * z;
          cross = r.x - z;
          break;
        case PinSide::Right:
          numAt = (1039 + s1 - 6.0 * static_cast<double>(Utf16Length(number))) * z;
          colAt = (1069 + s1) * z;
          cross = r.y - z;
          break;
        case PinSide::Top:
          numAt = kBodyY * z;
          colAt = 811 * z;
          cross = r.x - z;
          break;
        case PinSide::Left:
          numAt = kBodyX * z;
          colAt = 1011 * z;
          cross = r.y - z;
          break;
      }
      const double colLen = hasTexts ? PlaceColumn(pin, col, side, colAt, cross, pp.column) : 0;
      if (!hasTexts) pp.column.clear();
      switch (side) {
        case PinSide::Bottom:
          lo = std::min(r.y, numAt);
          hi = std::max({r.Bottom(), numAt + numLen, hasTexts ? colAt + colLen : 0.0});
          break;
        case PinSide::Right:
          lo = std::min(r.x, numAt);
          hi = std::max({r.Right(), numAt + numLen, hasTexts ? colAt + colLen : 0.0});
          break;
        case PinSide::Top:
          lo = std::min(r.y, hasTexts ? colAt - colLen : r.y);
          hi = std::max(r.Bottom(), numAt + numLen);
          break;
        case PinSide::Left:
          lo = std::min(r.x, hasTexts ? colAt - colLen : r.x);
          hi = std::max(r.Right(), numAt + numLen);
          break;
      }
      pp.region = pp.vertical ? PixelRect{r.x, lo, r.w, hi - lo} : PixelRect{lo, r.y, hi - lo, r.h};
      out.regions.push_back({static_cast<float>(pp.region.x), static_cast<float>(pp.region.y),
                             static_cast<float>(pp.region.w), static_cast<float>(pp.region.h),
                             TipText(pin.information)});

      pp.number.text = number;
      pp.number.color = pin.pin_no_color;
      if (pp.vertical) {
        pp.number.x = r.x - z;
        pp.number.y = numAt;
      } else {
        pp.number.x = numAt;
        pp.number.y = r.y - z;
      }
      // The boxes of the texts: vertical texts span one line height across.
      PixelRect numberBox = pp.vertical ? PixelRect{pp.number.x, numAt, lineHeight, numLen}
                                        : PixelRect{numAt, pp.number.y, numLen, lineHeight};
      PixelRect columnBox;
      if (hasTexts) {
        switch (side) {
          case PinSide::Bottom: columnBox = {cross, colAt, lineHeight, colLen}; break;
          case PinSide::Top: columnBox = {cross, colAt - colLen, lineHeight, colLen}; break;
          case PinSide::Right: columnBox = {colAt, cross, colLen, lineHeight}; break;
          case PinSide::Left: columnBox = {colAt - colLen, cross, colLen, lineHeight}; break;
        }
      }
      if (number.empty()) numberBox = {};
      pp.staticBounds = r.United(columnBox).Adjusted(kInkMargin);
      pp.dynamicBounds = r.United(numberBox).Adjusted(kInkMargin);
      out.pins.push_back(std::move(pp));
    }
  }

  // The name centred across the body; in the body's middle, or at `belowY`
  // when that is not negative.
  void PlaceName(double belowY) {
    const std::string name = Left(info.name, kMaxColumnChars);
    const TextExtent size = measure(TextFont::Name, name);
    const PackageLayout& l = out.layout;
    const double nx = kBodyX * z + (l.s1 * z - size.width) / 2;
    const double ny = belowY >= 0 ? belowY : kBodyY * z + (l.s2 * z - size.height) / 2;
    out.regions.push_back({static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(size.width),
                           static_cast<float>(size.height), TipText(info.processor)});
    out.name = {name, info.name_color, nx, ny, 0};
    out.nameBox = PixelRect{nx, ny, size.width, size.height}.Adjusted(kInkMargin);
  }

  void PlaceBallGrid(const std::vector<const PinInfo*>& pins) {
    const PackageLayout& l = out.layout;
    const int side = l.gridSide;
    PlaceName((l.s2 + 848) * z);
    for (int r = 1; r <= side; ++r) {
      for (int c = 1; c <= side; ++c) {
        const PinInfo& pin = *pins[static_cast<size_t>(r - 1) * side + (c - 1)];
        if (pin.texts.empty()) continue;
        const CanvasRect cr = BallRect(l, r, c);
        BallPlacement b;
        b.pin = static_cast<size_t>(&pin - info.pins.data());
        b.ball = {cr.x * z, cr.y * z, cr.w * z, cr.h * z};
        out.regions.push_back({static_cast<float>(b.ball.x), static_cast<float>(b.ball.y),
                               static_cast<float>(b.ball.w), static_cast<float>(b.ball.h), TipText(pin.information)});
        const std::string_view h = pin.highlight_text;
        if (Utf16Length(h) > 5) {
          const std::string_view first = Utf16Left(h, 5);
          b.label = std::string(first) + '\n' + Left(h.substr(first.size()), 5);
        } else {
          b.label = pin.highlight_text;
        }
        out.balls.push_back(std::move(b));
      }
    }
    for (int c = 1; c <= side; ++c) {
      const CanvasRect cr = BallRect(l, 1, c);
      out.gridLabels.push_back({{kBodyX * z, cr.y * z, 21 * z, cr.h * z}, std::to_string(c)});
    }
    for (int r = 1; r <= side && r <= 20; ++r) {
      const CanvasRect cr = BallRect(l, r, 1);
      out.gridLabels.push_back({{cr.x * z, kBodyY * z, cr.w * z, 21 * z}, BallColumnLetter(r)});
    }
  }
};

}  // namespace

PixelRect PixelRect::United(const PixelRect& o) const {
  if (o.IsEmpty()) return *this;
  if (IsEmpty()) return o;
  const double l = std::min(x, o.x), t = std::min(y, o.y);
  return {l, t, std::max(Right(), o.Right()) - l, std::max(Bottom(), o.Bottom()) - t};
}

std::string TipText(const std::string& s) { return s.size() > kMaxTipTextBytes ? s.substr(0, kMaxTipTextBytes) : s; }

PackagePlacement PlacePackage(const PackageInfo& info, const PlacementOptions& options, const TextMeasure& measure) {
  PackagePlacement out;
  out.zoom = options.zoom;
  out.showAllFunctions = options.showAllFunctions;
  const std::vector<const PinInfo*> pins = SortedPinOrder(info.pins);
  out.layout = ComputeLayout(pins.size(), info.pkg_frame);
  if (!out.layout.drawable) return out;
  const double z = options.zoom;
  Placer placer{info, options, measure, out, z, measure(TextFont::Pin, {}).height};
  const PackageLayout& l = out.layout;
  out.body = {kBodyX * z, kBodyY * z, l.s1 * z, l.s2 * z};
  if (l.frame == kFrameBallGrid) {
    placer.PlaceBallGrid(pins);
    return out;
  }
  const CanvasRect m = PinOneMarker(l);
  out.marker = {m.x * z, m.y * z, m.w * z, m.h * z};
  placer.PlaceName(-1);
  size_t next = 0;
  for (PinSide side : {PinSide::Bottom, PinSide::Right, PinSide::Top, PinSide::Left}) {
    placer.PlaceSide(pins, next, side);
  }
  return out;
}

const TipRegion* HitTest(const std::vector<TipRegion>& regions, int cx, int cy) {
  for (const TipRegion& r : regions) {
    if (r.text.empty()) continue;
    if (r.x < cx && cx < r.x + r.width && r.y < cy && cy < r.y + r.height) return &r;
  }
  return nullptr;
}
