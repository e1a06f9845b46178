// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/signal_view.h"

#include <algorithm>
#include <cstring>

using namespace view_colours;

RgbImage::RgbImage(int width, int height, Rgb fill) { Resize(width, height, fill); }

void RgbImage::Resize(int width, int height, Rgb fill) {
  width_ = width > 0 ? width : 0;
  height_ = height > 0 ? height : 0;
  pixels_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3, 0);
  Fill(fill);
}

Rgb RgbImage::Get(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
  const uint8_t* p = &pixels_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3];
  return {p[0], p[1], p[2]};
}

void RgbImage::Set(int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* p = &pixels_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3];
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

void RgbImage::Fill(Rgb c) {
  for (size_t i = 0; i + 2 < pixels_.size(); i += 3) {
    pixels_[i] = c.r;
    pixels_[i + 1] = c.g;
    pixels_[i + 2] = c.b;
  }
}

void RgbImage::Blit(int x, int y, int width, int height, const RgbImage& src, int src_x, int src_y) {
  // Clip the rectangle against both images, then copy row by row.
  if (src_x < 0) {
    width += src_x;
    x -= src_x;
    src_x = 0;
  }
  if (src_y < 0) {
    height += src_y;
    y -= src_y;
    src_y = 0;
  }
  if (x < 0) {
    width += x;
    src_x -= x;
    x = 0;
  }
  if (y < 0) {
    height += y;
    src_y -= y;
    y = 0;
  }
  width = std::min({width, src.width_ - src_x, width_ - x});
  height = std::min({height, src.height_ - src_y, height_ - y});
  if (width <= 0 || height <= 0) return;
  for (int row = 0; row < height; ++row) {
    const uint8_t* from = &src.pixels_[(static_cast<size_t>(src_y + row) * static_cast<size_t>(src.width_) +
                                        static_cast<size_t>(src_x)) * 3];
    uint8_t* to = &pixels_[(static_cast<size_t>(y + row) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3];
    std::memmove(to, from, static_cast<size_t>(width) * 3);
  }
}

void RgbImage::FloodFill(int x, int y, Rgb fill, Rgb border) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  if (Get(x, y) == border) return;
  const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  visited_.assign(count, 0);
  stack_.clear();
  stack_.reserve(count);
  stack_.push_back(y * width_ + x);
  visited_[static_cast<size_t>(y * width_ + x)] = 1;
  while (!stack_.empty()) {
    const int p = stack_.back();
    stack_.pop_back();
    const int px = p % width_;
    const int py = p / width_;
    Set(px, py, fill);
    const int nx[4] = {px - 1, px + 1, px, px};
    const int ny[4] = {py, py, py - 1, py + 1};
    for (int i = 0; i < 4; ++i) {
      if (nx[i] < 0 || ny[i] < 0 || nx[i] >= width_ || ny[i] >= height_) continue;
      const int q = ny[i] * width_ + nx[i];
      if (visited_[static_cast<size_t>(q)] != 0 || Get(nx[i], ny[i]) == border) continue;
      visited_[static_cast<size_t>(q)] = 1;
      stack_.push_back(q);
    }
  }
}

void CVarnolView::OnUpdate(int hint) {
  const bool erase = hint != UPDATE_HINT_NEW_BUFFER;
  LastUpdateHint = erase ? 0 : UPDATE_HINT_NEW_BUFFER;
  if (Invalidate) Invalidate(erase);
}

void CVarnolView::DrawColumn(int col, int x) {
  RgbImage& strip = StripBitmap;
  // Spectrum: bin 0 at the bottom (row 32), bin 32 at the top (row 0).
  for (int i = 0; i <= 32; ++i) {
    const uint8_t b = doc_.SpectrumTrace[col][i];
    strip.Set(x, 32 - i, Rgb{b, b, b});
  }
  strip.Set(x, 33, Separator);
  strip.Set(x, 34, Separator);
  // Level bar, one pixel per 24 level units, growing up from row 66; the threshold in force
  // now is drawn over it.
  const int level = doc_.LevelTrace[col] / 24;
  const int threshold = doc_.Threshold / 24;
  for (int a = 0; a <= 31; ++a) {
    const Rgb c = a == threshold ? view_colours::Threshold : a < level ? LevelBar : Empty;
    strip.Set(x, 66 - a, c);
  }
  strip.Set(x, 67, Separator);
  strip.Set(x, 68, Separator);
  const Rgb off = doc_.OffFlags[col] == 1 ? OffFlag : Empty;
  for (int y = 69; y <= 73; ++y) strip.Set(x, y, off);
  strip.Set(x, 74, Empty);
  strip.Set(x, 75, Empty);
  if (doc_.MarkerFlags[col] == 0) {
    for (int y = 76; y <= 80; ++y) strip.Set(x, y, Empty);
  } else if (doc_.MarkerFlags[col] == 1) {
    // Where the minute began: the marker test passes about a second after it.
    const int back = (StripX + StripWidth - MarkerLagColumns) % StripWidth;
    for (int y = 76; y <= 80; ++y) strip.Set(back, y, MarkerFlag);
  }
  strip.Set(x, 81, Empty);
}

void CVarnolView::OnDraw(RgbImage& dc) {
  if (StripCreated == 0) {
    StripBitmap.Resize(StripWidth, StripHeight, StripBlank);
    StripCreated = 1;
  }
  if (LastUpdateHint != UPDATE_HINT_NEW_BUFFER) dc.FloodFill(1, 1, Background, Empty);
  LastUpdateHint = 0;
  if (doc_.TracesValid != 1 || doc_.CaptureStarted != 1) return;

  while (ViewColumn != doc_.DisplayColumn) {
    DrawColumn(ViewColumn, StripX);
    ViewColumn = (ViewColumn + 1) % TraceColumns;
    StripX = (StripX + 1) % StripWidth;
  }

  // Right-aligned: the strip covers window columns R - 601 to R - 2, oldest at the left;
  // column R - 1 keeps the background.
  const int right = dc.Width();
  const int a = StripX;
  dc.Blit(right - a - 1, 0, a, StripHeight, StripBitmap, 0, 0);
  dc.Blit(right - 601, 0, StripWidth - a, StripHeight, StripBitmap, a, 0);

  // The tuning mark over the newest spectrum columns: a V-shaped gap at the rows of the bins
  // that make the tone level (15 to 17). The 100 Hz detector of mode 6 has no spectrum.
  if (doc_.StationMode != StationWwv) {
    for (int j = 0; j <= 31; ++j) {
      const int y = 32 - j;
      if (j < 13 || j > 19) {
        dc.Set(right - 20, y, view_colours::Threshold);
        dc.Set(right - 16, y, view_colours::Threshold);
      }
      if (j < 14 || j > 18) {
        dc.Set(right - 19, y, view_colours::Threshold);
        dc.Set(right - 17, y, view_colours::Threshold);
      }
      if (j < 15 || j > 17) dc.Set(right - 18, y, view_colours::Threshold);
    }
  }
}
