// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/run_chart.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/atomic_file.h"

namespace {

constexpr int MarkerLagBlocks = 62;  // a marker block is flagged about a second after the minute began

struct Rgb {
  double r, g, b;
};
constexpr Rgb Yellow{1.0, 1.0, 0.0};
constexpr Rgb DimYellow{0.5, 0.5, 0.0};
constexpr Rgb Red{1.0, 0.0, 0.0};
constexpr Rgb Black{0.0, 0.0, 0.0};
constexpr Rgb LightCyan{127 / 255.0, 1.0, 1.0};
constexpr Rgb LightBlue{127 / 255.0, 127 / 255.0, 1.0};
constexpr Rgb White{1.0, 1.0, 1.0};
constexpr Rgb DarkBlue{0.0, 0.0, 127 / 255.0};

void Fill(cairo_t* cr, Rgb c, double x, double y, double w, double h) {
  cairo_set_source_rgb(cr, c.r, c.g, c.b);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

void Text(cairo_t* cr, Rgb c, double x, double y, const char* text) {
  cairo_set_source_rgb(cr, c.r, c.g, c.b);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text);
}

}  // namespace

RunChart::RunChart(const CVarnolDoc& doc, ChartLayout layout) : doc_(doc), layout_(layout) {
  seen_block_ = doc.BlocksProcessed;
  blocks_.reserve(static_cast<size_t>(DefaultBlocksPerMinute) * 60);  // an hour before the first growth
  row_start_.reserve(60);
}

void RunChart::OnCaptureBuffer(const int16_t*, int, int64_t, int64_t) {
  start_ring_ = doc_.RingIndex;
  start_column_ = doc_.DisplayColumn;
  start_bpm_ = doc_.BlocksPerMinute;
  seen_block_ = doc_.BlocksProcessed;
}

void RunChart::OnUpdate(int hint) {
  if (hint != UPDATE_HINT_NEW_BUFFER) return;
  const int64_t fresh = std::min<int64_t>(doc_.BlocksProcessed - seen_block_, TraceColumns);
  if (fresh <= 0) return;
  if (first_block_ < 0) first_block_ = seen_block_ + 1;
  for (int64_t i = 0; i < fresh; ++i) {
    const int col = static_cast<int>((start_column_ + i) % TraceColumns);
    ChartBlock b{};
    b.level = static_cast<uint16_t>(std::clamp(doc_.LevelTrace[col], 0, 65535));
    b.threshold = static_cast<uint16_t>(std::clamp(doc_.Threshold, 0, 65535));
    if (doc_.StationMode != StationWwv) {
      int sum = 0;
      for (int k = 24; k < 40; ++k) sum += doc_.SpectrumTrace[col][k];  // 1500..2500 Hz, away from the tone
      b.noise = static_cast<uint16_t>(sum * 3 / 16);
    }
    b.slot = static_cast<uint16_t>((start_ring_ + i) % start_bpm_);
    b.off = static_cast<uint8_t>(doc_.OffFlags[col] != 0);
    b.marker = static_cast<uint8_t>(doc_.MarkerFlags[col] != 0);
    if (blocks_.empty() || b.slot < blocks_.back().slot)
      row_start_.push_back(static_cast<int>(blocks_.size()));
    blocks_.push_back(b);
  }
  seen_block_ = doc_.BlocksProcessed;
}

void RunChart::OnClockWrite(const SYSTEMTIME&, bool) {
  steps_.push_back(doc_.BlocksProcessed);
}

void RunChart::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  // The minute of day as the clock step writes it: a decoded hour or minute out of its range
  // (a misread code whose checks still held) rolls over as the written time does.
  const int total = ((ut_hour * 60 + ut_minute) % 1440 + 1440) % 1440;
  accepted_.push_back(Mark{block, total / 60, total % 60});
}

int RunChart::Rows() const {
  return std::max<int>(1, static_cast<int>(row_start_.size()));
}

int RunChart::Width() const {
  int slots = DefaultBlocksPerMinute;
  for (const ChartBlock& b : blocks_) slots = std::max(slots, b.slot + 1);
  return layout_.label_width + (slots + layout_.blocks_per_pixel - 1) / layout_.blocks_per_pixel;
}

int RunChart::Height() const {
  return RowY(Rows()) + 8 + layout_.plot_height + 4;
}

bool RunChart::WritePng(const std::string& path, std::string& error) const {
  const int width = Width();
  const int height = Height();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(cairo_surface_status(surface));
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  Fill(cr, DarkBlue, 0, 0, width, height);
  cairo_select_font_face(cr, "monospace", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, std::min(11.0, layout_.row_height - 1.0));

  // Vertical scale of the rows: the strong carrier fills a row.
  int top = 1;
  {
    std::vector<uint16_t> levels;
    levels.reserve(blocks_.size());
    for (const ChartBlock& b : blocks_) levels.push_back(b.level);
    if (!levels.empty()) {
      const size_t k = levels.size() * 99 / 100;
      std::nth_element(levels.begin(), levels.begin() + static_cast<long>(k), levels.end());
      top = std::max<int>(1, levels[k] * 11 / 10);
    }
  }
  const int bar = layout_.row_height - 1;  // pixels of bar under the row's marker line
  auto bar_pixels = [&](double level) {
    return std::clamp(static_cast<int>(std::lround(level / top * bar)), 0, bar);
  };

  const int rows = static_cast<int>(row_start_.size());
  for (int r = 0; r < rows; ++r) {
    const int first = row_start_[r];
    const int end = r + 1 < rows ? row_start_[r + 1] : static_cast<int>(blocks_.size());
    const int y = RowY(r);
    Fill(cr, Black, layout_.label_width, y, width - layout_.label_width, layout_.row_height);
    // Pixel columns: the mean level and threshold of the blocks that fall into each.
    for (int i = first; i < end;) {
      const int x = SlotX(blocks_[i].slot);
      double level = 0.0, threshold = 0.0;
      int n = 0;
      for (; i < end && SlotX(blocks_[i].slot) == x; ++i, ++n) {
        level += blocks_[i].level;
        threshold += blocks_[i].threshold;
      }
      level /= n;
      threshold /= n;
      const int h = bar_pixels(level);
      const int t = bar_pixels(threshold);
      if (h > 0) Fill(cr, Yellow, x, y + layout_.row_height - h, 1, h);
      Fill(cr, Red, x, y + layout_.row_height - std::max(t, 1), 1, 1);
    }
    const int bpm = doc_.BlocksPerMinute;
    for (int i = first; i < end; ++i)
      if (blocks_[i].marker)
        Fill(cr, LightCyan, SlotX((blocks_[i].slot + bpm - MarkerLagBlocks) % bpm), y, 1, 1);
    // Decoded time accepted within the row, and clock steps.
    const int64_t row_first = first_block_ + first;
    const int64_t row_end = first_block_ + end;
    const char* label = "-";
    char text[16];
    for (const Mark& m : accepted_) {
      if (m.block >= row_first && m.block < row_end) {
        std::snprintf(text, sizeof text, "%02d:%02d", m.hour, m.minute);
        label = text;
      }
    }
    Text(cr, White, 4, y + layout_.row_height - 2, label);
    for (int64_t s : steps_) {
      if (s >= row_first && s < row_end) {
        const int x = SlotX(blocks_[static_cast<size_t>(s - first_block_)].slot);
        Fill(cr, White, x, y, 1, layout_.row_height);
        Fill(cr, White, layout_.label_width - 8, y + 2, 4, layout_.row_height - 4);
      }
    }
  }

  // The whole run beneath: per pixel column the highest level, the threshold and the noise.
  const int py = RowY(Rows()) + 8;
  const int pw = width - layout_.label_width;
  const int ph = layout_.plot_height;
  Fill(cr, Black, layout_.label_width, py, pw, ph);
  Text(cr, Yellow, 4, py + 12, "level");
  Text(cr, Red, 4, py + 26, "thresh");
  Text(cr, LightBlue, 4, py + 40, doc_.StationMode == StationWwv ? "" : "noise");
  if (!blocks_.empty()) {
    int plot_top = 1;
    for (const ChartBlock& b : blocks_) plot_top = std::max<int>(plot_top, std::max(b.level, b.threshold));
    auto yof = [&](double v) {
      return py + ph - 1 - std::clamp(static_cast<int>(v / plot_top * (ph - 2)), 0, ph - 2);
    };
    const size_t n = blocks_.size();
    for (int x = 0; x < pw; ++x) {
      const size_t a = n * static_cast<size_t>(x) / static_cast<size_t>(pw);
      const size_t e = std::max(a + 1, n * static_cast<size_t>(x + 1) / static_cast<size_t>(pw));
      if (a >= n) break;
      int hi = 0, lo = 65535;
      double th = 0.0, noise = 0.0, mean = 0.0;
      for (size_t i = a; i < e && i < n; ++i) {
        hi = std::max<int>(hi, blocks_[i].level);
        lo = std::min<int>(lo, blocks_[i].level);
        mean += blocks_[i].level;
        th += blocks_[i].threshold;
        noise += blocks_[i].noise;
      }
      const double cnt = static_cast<double>(std::min(e, n) - a);
      const int px = layout_.label_width + x;
      // The levels' span in dark yellow (carrier off to carrier on), their mean in yellow.
      Fill(cr, DimYellow, px, yof(hi), 1, yof(lo) - yof(hi) + 1);
      Fill(cr, Yellow, px, yof(mean / cnt), 1, 1);
      if (doc_.StationMode != StationWwv) Fill(cr, LightBlue, px, yof(noise / cnt), 1, 1);
      Fill(cr, Red, px, yof(th / cnt), 1, 1);
    }
  }

  cairo_destroy(cr);
  cairo_surface_flush(surface);
  // Encoded in memory and written whole: a file is there complete or not at all.
  std::string png;
  const cairo_status_t st = cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  cairo_surface_destroy(surface);
  if (st != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(st);
    return false;
  }
  // A file is replaced whole; a FIFO or device (/dev/stdout) is written through.
  if (const int e = WriteOutputFile(path, png); e != 0) {
    error = std::strerror(e);
    return false;
  }
  return true;
}
