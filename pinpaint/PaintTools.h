// Drawing helpers shared by the parts of the package painter: colours,
// fonts and metrics made once per paint, horizontal and vertical text.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <QStaticText>
#include <QString>
#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pinmodel/PinPlacement.h"
#include "pinpaint/PackagePainter.h"

namespace pinpaint {

constexpr uint32_t kBlack = 0xFF000000;
constexpr uint32_t kBlue = 0xFF0000FF;
constexpr uint32_t kRed = 0xFFFF0000;
constexpr int32_t kStatusHigh = 65;
constexpr int32_t kStatusLow = 66;

inline QString FromBytes(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

inline QColor Argb(uint32_t c) { return QColor::fromRgba(c); }

// A font of `pixels` height (fractions kept) on the painter's device.
inline QFont MakeFont(const QPaintDevice* device, double pixels, bool bold) {
  QFont f(QStringLiteral("Verdana"));
  f.setStyleHint(QFont::SansSerif);
  f.setHintingPreference(QFont::PreferNoHinting);
  const int dpi = device != nullptr && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96;
  f.setPointSizeF(std::max(0.5, pixels * 72.0 / dpi));
  f.setBold(bold);
  return f;
}

// The fonts, metrics and pens of one zoom on one kind of device.
struct Tools {
  Tools(const QPaintDevice* device, float zoom)
      : z(zoom),
        small(MakeFont(device, 8.0 * zoom, false)),
        name(MakeFont(device, 9.0 * zoom, true)),
        // 5z points on the 96-dpi canvas.
        level(MakeFont(device, 5.0 * zoom * 96.0 / 72.0, true)),
        info(MakeFont(device, 14.0, true)),
        smallFm(small, device),
        nameFm(name, device),
        levelFm(level, device),
        infoFm(info, device) {
    black = QPen(Argb(kBlack), 1);
    black.setCosmetic(true);
    blue = QPen(Argb(kBlue), 1);
    blue.setCosmetic(true);
    blue.setCapStyle(Qt::FlatCap);
  }
  double z;
  QFont small, name, level, info;
  QFontMetricsF smallFm, nameFm, levelFm, infoFm;
  QPen black, blue;

  // Texts laid out once and drawn again and again: pin numbers, levels and
  // function texts. Keyed by a tag for font and direction and the text.
  // Null for a text the plain layout does not cover (control characters,
  // line breaks); those are drawn with the full text engine.
  const QStaticText* Prepared(char tag, std::string_view utf8) const;

 private:
  mutable std::unordered_map<std::string, QStaticText> m_prepared;
};

// Horizontal text whose layout box starts at (x, y).
inline void DrawText(QPainter& p, const QFont& f, const QFontMetricsF& fm, QColor c, double x, double y,
              const QString& s) {
  if (s.isEmpty() || c.alpha() == 0) return;
  p.setFont(f);
  p.setPen(c);
  p.drawText(QPointF(x, y + fm.ascent()), s);
}

// Text whose layout box starts at (x, y), its line breaks kept: each line
// starts at x, one line height below the one before.
inline void DrawTextBlock(QPainter& p, const QFont& f, QColor c, double x, double y, const QString& s) {
  if (s.isEmpty() || c.alpha() == 0) return;
  p.setFont(f);
  p.setPen(c);
  p.drawText(QRectF(x, y, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, s);
}

// The size of `s` drawn with DrawTextBlock: its widest line by its lines.
inline QSizeF TextBlockSize(const QFontMetricsF& fm, const QString& s) {
  return fm.boundingRect(QRectF(0, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, s).size();
}

// Vertical text (turned a quarter clockwise, reading downwards) whose layout
// box starts at (x, y); `along` moves the start along the text direction.
inline void DrawVertical(QPainter& p, const QFont& f, const QFontMetricsF& fm, QColor c, double x, double y,
                  const QString& s, double along = 0) {
  if (s.isEmpty() || c.alpha() == 0) return;
  p.save();
  p.translate(x + fm.height(), y);
  p.rotate(90);
  p.setFont(f);
  p.setPen(c);
  p.drawText(QPointF(along, fm.ascent()), s);
  p.restore();
}

// Text whose layout box starts at (x, y): horizontal, or vertical as
// DrawVertical; laid out once per zoom when the text allows it.
void DrawRunText(QPainter& p, const Tools& t, bool levelFont, QColor c, double x, double y, const std::string& utf8,
                 bool vertical, double along = 0);

inline QRectF ToQt(const PixelRect& r) { return {r.x, r.y, r.w, r.h}; }

// True when `visible` is empty (everything is drawn) or meets `r`.
inline bool Visible(const QRectF& visible, const PixelRect& r) {
  return visible.isEmpty() || visible.intersects(ToQt(r));
}

// Box, marks, level and number of one pin, with the painter's antialiasing
// switched on; they stay within the pin's dynamic bounds.
void DrawPinState(QPainter& p, const Tools& t, const PinInfo& pin, const PinPlacement& pp);

// The text measure of the placements over these fonts.
TextMeasure MeasureWith(const Tools& t);

// Ball grid (frame 3): the name below the body, the balls, row numbers and
// column letters.
void DrawBallGrid(QPainter& p, const Tools& t, const QRectF& visible, const PackageInfo& info,
                  const PackagePlacement& placement);

}  // namespace pinpaint
