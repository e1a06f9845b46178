// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a whole run: one row per minute, each row the minute's blocks left to right in
// their ring positions, so that the minute marker, the seconds and the code's pulses line up
// down the page (a sound card off its calibration slants the columns). Each pixel column is a
// small level bar coloured as the strip chart colours its level bar: yellow up to the level,
// a red pixel at the threshold, black above. Marker blocks are light cyan in the row's top
// line, where the minute began; a clock step is a white line through the row. At the left of
// each row the decoded UT time accepted in it, or "-". Beneath, the level, threshold and noise
// over the whole run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/varnol_doc.h"

struct ChartBlock {
  uint16_t level;      // the front end's block level
  uint16_t threshold;  // the threshold after the block's buffer
  uint16_t noise;      // three spectrum bytes' worth of the off-tone noise (0 for WWV)
  uint16_t slot;       // ring slot the block went into
  uint8_t off;         // the block's off flag
  uint8_t marker;      // the decoder's marker test passed on the block
};

struct ChartLayout {
  int blocks_per_pixel = 3;  // horizontal: 3 blocks (48 ms) a pixel column
  int row_height = 12;       // pixels, plus a 1-pixel gap
  int label_width = 64;      // pixels for the decoded time at the left
  int plot_height = 120;     // the run's level plot beneath
};

class RunChart : public DocObserver {
 public:
  explicit RunChart(const CVarnolDoc& doc, ChartLayout layout = {});

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnUpdate(int hint) override;
  void OnClockWrite(const SYSTEMTIME& written, bool ok) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;

  // Rows: the row of block b (counted from the chart's first block) is the number of times
  // the ring wrapped to slot 0 before it.
  int Rows() const;
  int Width() const;
  int Height() const;
  // x of a ring slot in the row, y of a row's top line.
  int SlotX(int slot) const { return layout_.label_width + slot / layout_.blocks_per_pixel; }
  int RowY(int row) const { return row * (layout_.row_height + 1); }

  // Writes the PNG; false with `error` set when it cannot.
  bool WritePng(const std::string& path, std::string& error) const;

 private:
  const CVarnolDoc& doc_;
  ChartLayout layout_;
  int start_ring_ = 0;  // RingIndex before the buffer being processed
  int start_column_ = 0;
  int start_bpm_ = DefaultBlocksPerMinute;
  int64_t seen_block_ = 0;
  int64_t first_block_ = -1;  // BlocksProcessed of the chart's first block
  std::vector<ChartBlock> blocks_;
  std::vector<int> row_start_;  // index into blocks_ of each row's first block
  struct Mark {
    int64_t block;
    int hour, minute;
  };
  std::vector<Mark> accepted_;
  std::vector<int64_t> steps_;
};
