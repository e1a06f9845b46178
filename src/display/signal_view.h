// SPDX-License-Identifier: GPL-3.0-or-later
// CVarnolView: the strip chart of the last 600 processed blocks. Each block becomes one column
// of 82 pixels -- spectrum, level bar with the threshold, off flag, minute-marker flag -- written
// into an off-screen strip that is a ring of columns, and copied to the window right-aligned,
// newest column at the right. The view only reads the document's traces; it draws the columns
// that are new since its last paint.
//
// Everything is drawn into RGB pixel buffers: `StripBitmap`, and the window's client area, whose
// content persists between paints as a window's does. The window program only shows the client
// buffer; tests read both without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/varnol_doc.h"

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A width x height image, three bytes per pixel, rows top to bottom. Drawing outside it is
// clipped.
class RgbImage {
 public:
  RgbImage() = default;
  RgbImage(int width, int height, Rgb fill = {});
  void Resize(int width, int height, Rgb fill);  // allocates; content becomes `fill`

  int Width() const { return width_; }
  int Height() const { return height_; }
  const uint8_t* Data() const { return pixels_.data(); }
  uint8_t* Data() { return pixels_.data(); }

  Rgb Get(int x, int y) const;
  void Set(int x, int y, Rgb c);
  void Fill(Rgb c);
  // Copies `width` x `height` pixels from (src_x, src_y) of `src` to (x, y), clipped.
  void Blit(int x, int y, int width, int height, const RgbImage& src, int src_x, int src_y);
  // Fills the 4-connected area around (x, y) up to pixels of colour `border`. Nothing happens
  // when (x, y) lies outside or is itself the border colour.
  void FloodFill(int x, int y, Rgb fill, Rgb border);

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> pixels_;
  std::vector<int> stack_;        // flood-fill work list, kept between fills
  std::vector<uint8_t> visited_;  // flood-fill marks
};

namespace view_colours {
constexpr Rgb Background{0, 0, 127};
constexpr Rgb StripBlank{255, 255, 255};
constexpr Rgb Separator{0, 255, 0};
constexpr Rgb LevelBar{255, 255, 0};
constexpr Rgb Threshold{255, 0, 0};  // also the tuning mark
constexpr Rgb OffFlag{127, 127, 255};
constexpr Rgb MarkerFlag{127, 255, 255};
constexpr Rgb Empty{0, 0, 0};
// What the window shows where nothing has been painted yet (a freshly erased area).
constexpr Rgb WindowErased{255, 255, 255};
}  // namespace view_colours

class CVarnolView : public DocObserver {
 public:
  static constexpr int MarkerLagColumns = 62;  // a marker flag is drawn this far back

  explicit CVarnolView(const CVarnolDoc& doc) : doc_(doc) {}

  // Hint 99 (a new buffer): the window is invalidated without erasing; any other hint: with
  // erasing. `Invalidate` (set by the window) is told which.
  void OnUpdate(int hint) override;
  // Paints into `dc`, the window's client area as it stands.
  void OnDraw(RgbImage& dc);

  std::function<void(bool erase)> Invalidate;

  int ViewColumn = 0;  // next document column to draw
  int StripX = 0;      // next strip column to draw into
  int StripWidth = TraceColumns;
  int StripHeight = 82;
  RgbImage StripBitmap;
  int StripCreated = 0;
  int LastUpdateHint = 0;

 private:
  void DrawColumn(int col, int x);
  const CVarnolDoc& doc_;
};
