#include "pinpaint/PinSprites.h"

#include <QPainter>
#include <cstring>
#include <functional>

#include "pinpaint/PaintTools.h"

using namespace pinpaint;

namespace {

bool SamePixels(const QImage& a, const QImage& b, const QRect& inB) {
  const size_t rowBytes = static_cast<size_t>(inB.width()) * 4;
  for (int y = 0; y < inB.height(); ++y) {
    const uchar* rowA = a.constScanLine(y);
    const uchar* rowB = b.constScanLine(inB.y() + y) + static_cast<size_t>(inB.x()) * 4;
    if (std::memcmp(rowA, rowB, rowBytes) != 0) return false;
  }
  return true;
}

void Mix(size_t& h, size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); }

}  // namespace

size_t PinSprites::Hash(const Look& l) {
  size_t h = std::hash<std::string>()(l.number);
  const std::hash<double> d;
  Mix(h, std::hash<float>()(l.zoom));
  Mix(h, static_cast<size_t>(l.side) | static_cast<size_t>(l.vertical) << 3 | static_cast<size_t>(l.level) << 4 |
             static_cast<size_t>(l.direction) << 12 | static_cast<size_t>(l.pullup) << 16);
  Mix(h, l.boxColor);
  Mix(h, l.numberColor);
  for (const double v : {l.bx, l.by, l.bw, l.bh, l.nx, l.ny, l.nalong}) Mix(h, d(v));
  Mix(h, static_cast<size_t>(l.width) << 20 ^ static_cast<size_t>(l.height));
  return h;
}

void PinSprites::Clear() {
  m_entries.clear();
  m_bytes = 0;
}

bool PinSprites::Draw(QPainter& frame, const QImage& target, QPoint origin, const Tools& tools,
                      const PinInfo& pin, const PinPlacement& pp, const QRect& pixels) {
  const QRect inBackground = pixels.translated(-origin);
  if (pixels.isEmpty() || !target.rect().contains(inBackground)) return false;
  const double x0 = pixels.x(), y0 = pixels.y();
  Look look;
  look.zoom = static_cast<float>(tools.z);
  look.side = static_cast<int>(pp.side);
  look.vertical = pp.vertical;
  look.level = pin.status == kStatusHigh ? 'H' : pin.status == kStatusLow ? 'L' : 0;
  look.direction = pin.direction >= 1 && pin.direction <= 4 ? pin.direction : 0;
  look.pullup = look.direction != 0 && look.direction != 4 && pin.pullup;
  look.boxColor = pin.pin_bg_color;
  look.bx = pp.box.x - x0;
  look.by = pp.box.y - y0;
  look.bw = pp.box.w;
  look.bh = pp.box.h;
  look.number = pp.number.text;
  look.numberColor = pp.number.color;
  look.nx = pp.number.x - x0;
  look.ny = pp.number.y - y0;
  look.nalong = pp.number.along;
  look.width = pixels.width();
  look.height = pixels.height();
  const size_t hash = Hash(look);

  const QImage* sprite = nullptr;
  const auto [first, last] = m_entries.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (it->second.look == look && SamePixels(it->second.background, target, inBackground)) {
      sprite = &it->second.sprite;
      break;
    }
  }
  if (sprite == nullptr) {
    Entry e;
    e.look = std::move(look);
    e.background = target.copy(inBackground);
    e.sprite = e.background.copy();
    {
      QPainter p(&e.sprite);
      p.translate(-pixels.topLeft());
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setRenderHint(QPainter::TextAntialiasing, true);
      DrawPinState(p, tools, pin, pp);
    }
    const size_t bytes = static_cast<size_t>(e.background.sizeInBytes() + e.sprite.sizeInBytes());
    if (m_bytes + bytes > m_budget) Clear();
    m_bytes += bytes;
    sprite = &m_entries.emplace(hash, std::move(e))->second.sprite;
  }
  const QPainter::CompositionMode mode = frame.compositionMode();
  frame.setCompositionMode(QPainter::CompositionMode_Source);
  frame.drawImage(pixels.topLeft(), *sprite);
  frame.setCompositionMode(mode);
  return true;
}
