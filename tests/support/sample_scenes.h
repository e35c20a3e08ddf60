// Sample scenes: simple generated pictures for the demo's sample images (a
// sky, a sun or a moon, a horizon, sea or hills, and a few shapes for the
// theme of the caption), so that the console's search grid shows pictures a
// person can tell apart. Deterministic: the same theme, size and seed give
// the same pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum class SceneTheme {
  kLandscape,  // hills under a sun
  kStadium,    // a pitch, stands, players and a ball
  kRunners,    // a bridge over a river with runners
  kHarbourFire,  // boats and a blaze on the water under smoke
  kNightCrowd,   // a crowd with flags and lights at night
  kStage,        // curtains, a lit stage and an orchestra
};

// The theme whose words the caption, headline or keywords hold (landscape
// when none does).
SceneTheme ThemeForWords(const std::string& words);

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes, rows top down
};

// A picture of `theme`, `width` x `height` pixels (at least 16 x 16), with
// its details placed by `seed`.
Picture PaintScene(SceneTheme theme, int width, int height, uint32_t seed);

}  // namespace vantrel
