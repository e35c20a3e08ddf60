#include "support/sample_scenes.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>

namespace vantrel {
namespace {

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Numbers in [0, 1) from a fixed generator (mt19937's raw output is the
// same everywhere, unlike the library's distributions).
class Dice {
 public:
  explicit Dice(uint32_t seed) : gen_(seed) {}
  double Next() { return static_cast<double>(gen_()) / 4294967296.0; }
  double Between(double lo, double hi) { return lo + (hi - lo) * Next(); }
  Rgb Colour(const std::vector<Rgb>& palette) {
    return palette[static_cast<size_t>(Next() * static_cast<double>(palette.size()))];
  }

 private:
  std::mt19937 gen_;
};

// Painting in picture units: x from 0 to 1 across, y from 0 to 1 down, radii
// and sizes as parts of the height.
class Canvas {
 public:
  Canvas(int width, int height)
      : w_(width), h_(height), px_(static_cast<size_t>(width) * static_cast<size_t>(height)) {}

  void Gradient(double y0, double y1, Rgb top, Rgb bottom) {
    for (int y = Row(y0); y < Row(y1); ++y) {
      const double t = (y - Row(y0)) / std::max(1.0, Row(y1) - Row(y0) - 1.0);
      for (int x = 0; x < w_; ++x) Put(x, y, Mix(top, bottom, t), 1);
    }
  }
  void Rect(double x0, double y0, double x1, double y1, Rgb c, double alpha = 1) {
    for (int y = Row(y0); y < Row(y1); ++y) {
      for (int x = Col(x0); x < Col(x1); ++x) Put(x, y, c, alpha);
    }
  }
  // A disc with a smooth edge; `upper_only` paints the half above the centre.
  void Disc(double cx, double cy, double r, Rgb c, double alpha = 1, bool upper_only = false) {
    const double px = cx * w_, py = cy * h_, pr = r * h_;
    for (int y = Row(cy - r); y <= Row(cy + r); ++y) {
      if (upper_only && y > py) break;
      for (int x = static_cast<int>(px - pr) - 1; x <= static_cast<int>(px + pr) + 1; ++x) {
        const double d = std::hypot(x + 0.5 - px, y + 0.5 - py);
        const double cover = std::clamp(pr - d + 0.5, 0.0, 1.0);
        if (cover > 0) Put(x, y, c, alpha * cover);
      }
    }
  }
  // Light fading from the centre: a sun's halo, a floodlight, fire, smoke.
  void Glow(double cx, double cy, double r, Rgb c, double alpha) {
    const double px = cx * w_, py = cy * h_, pr = r * h_;
    for (int y = Row(cy - r); y <= Row(cy + r); ++y) {
      for (int x = static_cast<int>(px - pr); x <= static_cast<int>(px + pr); ++x) {
        const double d = std::hypot(x + 0.5 - px, y + 0.5 - py) / pr;
        if (d < 1) Put(x, y, c, alpha * (1 - d) * (1 - d));
      }
    }
  }
  // Fills everything below the wavy line base + amp * sin(...) (hills, waves).
  void Ridge(double base, double amp, double waves, double phase, Rgb c, double alpha = 1) {
    for (int x = 0; x < w_; ++x) {
      const double u = static_cast<double>(x) / w_;
      const double top = base + amp * (0.6 * std::sin(u * waves * 6.283 + phase) +
                                       0.4 * std::sin(u * waves * 2.7 * 6.283 + phase * 1.7));
      for (int y = std::max(0, Row(top)); y < h_; ++y) Put(x, y, c, alpha);
    }
  }
  void Triangle(double ax, double ay, double bx, double by, double cx, double cy, Rgb c) {
    const double x0 = std::min({ax, bx, cx}), x1 = std::max({ax, bx, cx});
    const double y0 = std::min({ay, by, cy}), y1 = std::max({ay, by, cy});
    auto side = [](double px, double py, double qx, double qy, double rx, double ry) {
      return (qx - px) * (ry - py) - (qy - py) * (rx - px);
    };
    for (int y = Row(y0); y <= Row(y1); ++y) {
      for (int x = Col(x0); x <= Col(x1); ++x) {
        const double u = (x + 0.5) / w_, v = (y + 0.5) / h_;
        const double s1 = side(ax, ay, bx, by, u, v), s2 = side(bx, by, cx, cy, u, v),
                     s3 = side(cx, cy, ax, ay, u, v);
        if ((s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0)) Put(x, y, c, 1);
      }
    }
  }
  // A standing person `size` tall with feet at (x, y).
  void Person(double x, double y, double size, Rgb shirt, Rgb trousers) {
    const double half = size * 0.13 * h_ / w_;
    Rect(x - half, y - size * 0.45, x + half, y, trousers);
    Rect(x - half * 1.2, y - size * 0.8, x + half * 1.2, y - size * 0.42, shirt);
    Disc(x, y - size * 0.9, size * 0.11, Rgb{224, 180, 150});
  }

  Picture Take() {
    Picture p;
    p.width = w_;
    p.height = h_;
    p.rgb.reserve(px_.size() * 3);
    for (const Rgb& c : px_) {
      for (double v : {c.r, c.g, c.b}) {
        p.rgb.push_back(static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)));
      }
    }
    return p;
  }

 private:
  int Row(double y) const { return std::clamp(static_cast<int>(std::lround(y * h_)), 0, h_); }
  int Col(double x) const { return std::clamp(static_cast<int>(std::lround(x * w_)), 0, w_); }
  void Put(int x, int y, Rgb c, double alpha) {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
    Rgb& p = px_[static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x)];
    p = Mix(p, c, std::clamp(alpha, 0.0, 1.0));
  }

  int w_, h_;
  std::vector<Rgb> px_;
};

const std::vector<Rgb> kShirts = {{220, 40, 40},  {40, 90, 210},  {250, 200, 40}, {40, 170, 90},
                                  {240, 240, 240}, {160, 60, 190}, {250, 130, 30}};

void Landscape(Canvas& c, Dice& d) {
  c.Gradient(0, 0.62, Rgb{70, 130, 210}, Rgb{200, 225, 245});
  const double sx = d.Between(0.2, 0.8), sy = d.Between(0.16, 0.32);
  c.Glow(sx, sy, 0.3, Rgb{255, 240, 190}, 0.7);
  c.Disc(sx, sy, 0.07, Rgb{255, 225, 90});
  c.Ridge(0.5, 0.05, 1.5, d.Between(0, 6), Rgb{110, 140, 160});
  c.Ridge(0.62, 0.06, 2.2, d.Between(0, 6), Rgb{90, 150, 70});
  c.Ridge(0.8, 0.04, 3, d.Between(0, 6), Rgb{60, 120, 50});
  for (int i = 0; i < 6; ++i) {
    const double x = d.Between(0.05, 0.95), y = d.Between(0.8, 0.95);
    c.Rect(x - 0.006, y - 0.06, x + 0.006, y, Rgb{90, 60, 30});
    c.Disc(x, y - 0.08, 0.04, Rgb{30, 90, 40});
  }
}

void Stadium(Canvas& c, Dice& d) {
  c.Gradient(0, 0.3, Rgb{20, 30, 80}, Rgb{230, 130, 70});
  c.Glow(0.08, 0.08, 0.25, Rgb{255, 255, 220}, 0.8);
  c.Glow(0.92, 0.08, 0.25, Rgb{255, 255, 220}, 0.8);
  c.Rect(0, 0.28, 1, 0.55, Rgb{70, 70, 80});
  for (int i = 0; i < 500; ++i) {
    c.Disc(d.Between(0, 1), d.Between(0.3, 0.54), 0.008, d.Colour(kShirts), 0.9);
  }
  for (int band = 0; band < 8; ++band) {
    const double y0 = 0.55 + band * 0.45 / 8;
    c.Rect(0, y0, 1, y0 + 0.45 / 8, band % 2 ? Rgb{50, 150, 60} : Rgb{60, 170, 70});
  }
  c.Rect(0.497, 0.55, 0.503, 1, Rgb{245, 245, 245});
  c.Disc(0.5, 0.77, 0.14, Rgb{245, 245, 245});
  c.Disc(0.5, 0.77, 0.13, Rgb{55, 160, 65});
  for (int i = 0; i < 10; ++i) {
    const Rgb shirt = i % 2 ? Rgb{220, 40, 40} : Rgb{40, 90, 210};
    c.Person(d.Between(0.05, 0.95), d.Between(0.7, 0.97), 0.16, shirt, Rgb{240, 240, 240});
  }
  c.Disc(d.Between(0.3, 0.7), d.Between(0.85, 0.95), 0.018, Rgb{250, 250, 250});
}

void Runners(Canvas& c, Dice& d) {
  c.Gradient(0, 0.6, Rgb{90, 160, 230}, Rgb{210, 230, 250});
  const double sx = d.Between(0.6, 0.9);
  c.Glow(sx, 0.18, 0.25, Rgb{255, 245, 200}, 0.6);
  c.Disc(sx, 0.18, 0.06, Rgb{255, 230, 110});
  c.Ridge(0.52, 0.03, 2, d.Between(0, 6), Rgb{120, 150, 130});
  c.Gradient(0.6, 1, Rgb{60, 110, 170}, Rgb{20, 50, 100});
  for (int i = 0; i < 40; ++i) {
    const double x = d.Between(0, 1), y = d.Between(0.65, 1);
    c.Rect(x, y, x + d.Between(0.03, 0.1), y + 0.004, Rgb{180, 210, 240}, 0.5);
  }
  const Rgb stone{170, 150, 120};
  for (double x : {0.2, 0.5, 0.8}) {
    c.Disc(x, 0.75, 0.2, stone, 1, /*upper_only=*/true);
    c.Disc(x, 0.75, 0.15, Rgb{45, 90, 150}, 1, /*upper_only=*/true);
  }
  c.Rect(0, 0.5, 1, 0.56, stone);
  c.Rect(0, 0.49, 1, 0.5, Rgb{110, 100, 90});
  for (int i = 0; i < 14; ++i) {
    c.Person(d.Between(0.03, 0.97), 0.5, d.Between(0.09, 0.12), d.Colour(kShirts),
             Rgb{30, 30, 40});
  }
}

void HarbourFire(Canvas& c, Dice& d) {
  c.Gradient(0, 0.55, Rgb{50, 40, 45}, Rgb{210, 110, 50});
  for (int i = 0; i < 30; ++i) {
    c.Glow(d.Between(0.3, 0.8), d.Between(0.05, 0.4), d.Between(0.08, 0.2), Rgb{90, 85, 85},
           0.6);
  }
  for (int i = 0; i < 9; ++i) {
    const double x = i / 9.0, top = d.Between(0.3, 0.45);
    c.Rect(x, top, x + 0.1, 0.58, Rgb{35, 30, 35});
  }
  const double fx = d.Between(0.4, 0.6);
  c.Glow(fx, 0.45, 0.35, Rgb{255, 140, 30}, 0.8);
  for (int i = 0; i < 12; ++i) {
    const double x = fx + d.Between(-0.12, 0.12), h = d.Between(0.08, 0.2);
    c.Triangle(x - 0.03, 0.58, x + 0.03, 0.58, x, 0.58 - h,
               i % 2 ? Rgb{255, 200, 60} : Rgb{240, 90, 20});
  }
  c.Gradient(0.58, 1, Rgb{40, 50, 70}, Rgb{15, 20, 35});
  c.Glow(fx, 0.7, 0.25, Rgb{255, 130, 40}, 0.5);
  for (double bx : {0.2, 0.78}) {
    c.Rect(bx - 0.08, 0.72, bx + 0.08, 0.78, Rgb{200, 30, 30});
    c.Rect(bx - 0.03, 0.66, bx + 0.03, 0.72, Rgb{240, 240, 240});
    for (int k = 0; k < 20; ++k) {
      const double t = k / 20.0, dir = bx < fx ? 1 : -1;
      c.Disc(bx + dir * t * 0.2, 0.66 - std::sin(t * 3.1) * 0.15, 0.01, Rgb{220, 235, 250}, 0.8);
    }
  }
}

void NightCrowd(Canvas& c, Dice& d) {
  c.Gradient(0, 0.6, Rgb{10, 15, 50}, Rgb{70, 40, 90});
  c.Disc(d.Between(0.7, 0.9), 0.14, 0.05, Rgb{240, 240, 220});
  for (int i = 0; i < 60; ++i) c.Disc(d.Between(0, 1), d.Between(0, 0.35), 0.003, Rgb{255, 255, 255});
  c.Rect(0.15, 0.25, 0.85, 0.6, Rgb{45, 40, 60});
  for (int i = 0; i < 24; ++i) {
    const double x = 0.18 + (i % 8) * 0.085, y = 0.3 + (i / 8) * 0.09;
    c.Rect(x, y, x + 0.04, y + 0.05, Rgb{250, 220, 120});
  }
  c.Glow(0.3, 0.55, 0.3, Rgb{255, 255, 200}, 0.4);
  c.Glow(0.7, 0.55, 0.3, Rgb{200, 220, 255}, 0.4);
  for (int i = 0; i < 7; ++i) {
    const double x = d.Between(0.05, 0.9), y = d.Between(0.5, 0.65);
    c.Rect(x, y, x + 0.005, y + 0.2, Rgb{200, 200, 200});
    c.Rect(x + 0.005, y, x + 0.08, y + 0.05, d.Colour(kShirts));
  }
  for (int i = 0; i < 60; ++i) {
    c.Person(d.Between(0, 1), d.Between(0.8, 1.05), d.Between(0.2, 0.28), d.Colour(kShirts),
             Rgb{20, 20, 30});
  }
}

void Stage(Canvas& c, Dice& d) {
  c.Gradient(0, 0.7, Rgb{20, 10, 15}, Rgb{60, 30, 30});
  for (int x = 0; x < 2; ++x) {
    for (int fold = 0; fold < 8; ++fold) {
      const double x0 = x == 0 ? fold * 0.025 : 0.8 + fold * 0.025;
      c.Rect(x0, 0, x0 + 0.025, 0.75, fold % 2 ? Rgb{150, 20, 30} : Rgb{190, 30, 40});
    }
  }
  c.Rect(0, 0, 1, 0.08, Rgb{170, 25, 35});
  c.Rect(0, 0.65, 1, 1, Rgb{110, 70, 40});
  for (double x : {0.35, 0.5, 0.65}) c.Glow(x, 0.5, 0.3, Rgb{255, 230, 170}, 0.5);
  for (int row = 0; row < 3; ++row) {
    for (int i = 0; i < 9; ++i) {
      const double x = 0.24 + i * 0.065 + d.Between(-0.01, 0.01), y = 0.62 + row * 0.06;
      c.Person(x, y, 0.11, Rgb{15, 15, 20}, Rgb{15, 15, 20});
      c.Rect(x + 0.01, y - 0.07, x + 0.014, y - 0.01, Rgb{160, 100, 40});
    }
  }
  c.Person(0.5, 0.9, 0.2, Rgb{10, 10, 10}, Rgb{10, 10, 10});
  c.Rect(0.52, 0.72, 0.6, 0.725, Rgb{240, 240, 240});
}

}  // namespace

SceneTheme ThemeForWords(const std::string& words) {
  std::string w;
  for (char ch : words) w += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  auto has = [&](const char* s) { return w.find(s) != std::string::npos; };
  if (has("fire") || has("blaze")) return SceneTheme::kHarbourFire;
  if (has("football") || has("stadium")) return SceneTheme::kStadium;
  if (has("marathon") || has("runner")) return SceneTheme::kRunners;
  if (has("election") || has("supporters")) return SceneTheme::kNightCrowd;
  if (has("opera") || has("orchestra")) return SceneTheme::kStage;
  return SceneTheme::kLandscape;
}

Picture PaintScene(SceneTheme theme, int width, int height, uint32_t seed) {
  Canvas c(std::max(16, width), std::max(16, height));
  Dice d(seed);
  switch (theme) {
    case SceneTheme::kStadium:
      Stadium(c, d);
      break;
    case SceneTheme::kRunners:
      Runners(c, d);
      break;
    case SceneTheme::kHarbourFire:
      HarbourFire(c, d);
      break;
    case SceneTheme::kNightCrowd:
      NightCrowd(c, d);
      break;
    case SceneTheme::kStage:
      Stage(c, d);
      break;
    case SceneTheme::kLandscape:
      Landscape(c, d);
      break;
  }
  return c.Take();
}

}  // namespace vantrel
