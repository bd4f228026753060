// Drawing helpers shared by the parts of the package painter: colours,
// fonts and metrics made once per paint, horizontal and vertical text.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <QString>
#include <algorithm>
#include <string>
#include <vector>

#include "pinmodel/PackageLayout.h"
#include "pinpaint/PackagePainter.h"

namespace pinpaint {

constexpr uint32_t kBlack = 0xFF000000;
constexpr uint32_t kBlue = 0xFF0000FF;
constexpr uint32_t kRed = 0xFFFF0000;
constexpr int32_t kStatusHigh = 65;
constexpr int32_t kStatusLow = 66;

inline QString FromBytes(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

inline QColor Argb(uint32_t c) { return QColor::fromRgba(c); }

// A region's text: tooltips never show more than this.
inline std::string TipText(const std::string& s) { return s.size() > kMaxTipTextBytes ? s.substr(0, kMaxTipTextBytes) : s; }

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

// Everything one paint needs, made once per paint.
struct Tools {
  Tools(QPainter& p, float zoom)
      : z(zoom),
        small(MakeFont(p.device(), 8.0 * zoom, false)),
        name(MakeFont(p.device(), 9.0 * zoom, true)),
        // 5z points on the 96-dpi canvas.
        level(MakeFont(p.device(), 5.0 * zoom * 96.0 / 72.0, true)),
        info(MakeFont(p.device(), 14.0, true)),
        smallFm(small, p.device()),
        nameFm(name, p.device()),
        levelFm(level, p.device()),
        infoFm(info, p.device()) {
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

inline bool Visible(const PaintOptions& o, const QRectF& r) { return o.visible.isEmpty() || o.visible.intersects(r); }

// Ball grid (frame 3): the name below the body, the balls, row numbers and
// column letters; one region per ball drawn.
void DrawBallGrid(QPainter& p, const Tools& t, const PaintOptions& o, const PackageLayout& l,
                  const PackageInfo& info, const std::vector<const PinInfo*>& pins,
                  std::vector<TipRegion>& regions);

}  // namespace pinpaint
