// Pictures of pins kept between paints: a pin's box, marks, level and
// number drawn once over the pixels beneath them, then copied wherever the
// same look comes again over the same pixels. A look is everything the
// drawing depends on (zoom, where box and number sit within the pixel grid,
// colours, level, direction, pull-up, number text); with the pixels beneath
// compared too, a copy equals drawing the pin.
#pragma once

#include <QImage>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "pinmodel/PackageInfo.h"
#include "pinmodel/PinPlacement.h"

class QPainter;

namespace pinpaint {
struct Tools;
}

class PinSprites {
 public:
  // Pixels (sprites and their backgrounds together) kept before the cache
  // starts afresh: a script inventing new colours at every tick must not
  // grow it without bound.
  static constexpr size_t kDefaultBudget = size_t{24} << 20;

  explicit PinSprites(size_t budgetBytes = kDefaultBudget) : m_budget(budgetBytes) {}

  // Draws pin `pp` with `painter` onto `target`, whose top-left pixel is
  // canvas point `origin` (the painter translated by -origin, perhaps
  // clipped), as DrawPinState would. `pixels`: the pin's aligned dynamic
  // bounds in canvas pixels, all the drawing can touch. False when they are
  // not wholly within `target`: nothing is drawn then.
  bool Draw(QPainter& painter, const QImage& target, QPoint origin, const pinpaint::Tools& tools,
            const PinInfo& pin, const PinPlacement& pp, const QRect& pixels);

  void Clear();
  size_t Size() const { return m_entries.size(); }
  size_t Bytes() const { return m_bytes; }

 private:
  // What the drawing depends on apart from the background, relative to the
  // sprite's top-left pixel.
  struct Look {
    float zoom = 0;
    int side = 0;
    bool vertical = false;
    int level = 0;        // 'H', 'L' or 0
    int direction = 0;    // 1..4, else 0
    bool pullup = false;  // only with directions 1..3
    uint32_t boxColor = 0;
    double bx = 0, by = 0, bw = 0, bh = 0;
    std::string number;
    uint32_t numberColor = 0;
    double nx = 0, ny = 0, nalong = 0;
    int width = 0, height = 0;
    bool operator==(const Look&) const = default;
  };
  struct Entry {
    Look look;
    QImage background;
    QImage sprite;
  };
  static size_t Hash(const Look& look);

  size_t m_budget;
  size_t m_bytes = 0;
  std::unordered_multimap<size_t, Entry> m_entries;
};
