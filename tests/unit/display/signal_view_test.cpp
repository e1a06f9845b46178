// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>

#include "display/signal_view.h"
#include "unit/app/fakes.h"

namespace {

using namespace view_colours;

constexpr int kClientWidth = 620;  // R: the strip covers window columns 19..618
constexpr int kClientHeight = 100;

class ViewTest : public ::testing::Test {
 protected:
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;
  CVarnolDoc doc{wave, clock, errors};
  CVarnolView view{doc};
  RgbImage dc{kClientWidth, kClientHeight, WindowErased};

  // As after a start of capture: the traces are drawn.
  void Capturing(int display_column) {
    doc.CaptureStarted = 1;
    doc.TracesValid = 1;
    doc.DisplayColumn = display_column;
  }
  // Window x of strip column x after a paint with StripX = a: columns a..599 come first.
  int WindowX(int strip_x) const {
    const int a = view.StripX;
    return strip_x < a ? kClientWidth - a - 1 + strip_x : kClientWidth - 601 + (strip_x - a);
  }
  Rgb Strip(int x, int y) const { return view.StripBitmap.Get(x, y); }
};

TEST_F(ViewTest, BeforeAnyCaptureTheWindowIsPlainDarkBlue) {
  view.OnUpdate(0);
  view.OnDraw(dc);
  for (int y = 0; y < kClientHeight; ++y)
    for (int x = 0; x < kClientWidth; ++x) ASSERT_EQ(dc.Get(x, y), Background) << x << "," << y;
  EXPECT_EQ(view.StripCreated, 1);
  EXPECT_EQ(Strip(0, 0), StripBlank);
  EXPECT_EQ(view.ViewColumn, 0);
}

TEST_F(ViewTest, HintsChooseEraseAndTheBackgroundFill) {
  bool erased = false;
  int invalidations = 0;
  view.Invalidate = [&](bool erase) {
    erased = erase;
    ++invalidations;
  };
  view.OnUpdate(UPDATE_HINT_NEW_BUFFER);
  EXPECT_FALSE(erased);
  EXPECT_EQ(view.LastUpdateHint, 99);
  // A hint-99 paint leaves the background alone.
  view.OnDraw(dc);
  EXPECT_EQ(dc.Get(5, 90), WindowErased);
  EXPECT_EQ(view.LastUpdateHint, 0);
  view.OnUpdate(0);
  EXPECT_TRUE(erased);
  EXPECT_EQ(invalidations, 2);
  view.OnDraw(dc);
  EXPECT_EQ(dc.Get(5, 90), Background);
}

TEST_F(ViewTest, ColumnRowsFollowTheTraces) {
  doc.SpectrumTrace[0][0] = 200;   // bottom spectrum row
  doc.SpectrumTrace[0][32] = 17;   // top spectrum row
  doc.SpectrumTrace[0][33] = 99;   // not drawn
  doc.LevelTrace[0] = 24 * 5 + 23;  // five bar pixels
  doc.Threshold = 24 * 10;          // red at a = 10
  doc.OffFlags[0] = 1;
  Capturing(1);
  view.OnDraw(dc);
  EXPECT_EQ(view.ViewColumn, 1);
  EXPECT_EQ(view.StripX, 1);
  EXPECT_EQ(Strip(0, 32), (Rgb{200, 200, 200}));
  EXPECT_EQ(Strip(0, 0), (Rgb{17, 17, 17}));
  EXPECT_EQ(Strip(0, 16), Empty);
  for (int y : {33, 34, 67, 68}) EXPECT_EQ(Strip(0, y), Separator) << y;
  for (int a = 0; a < 5; ++a) EXPECT_EQ(Strip(0, 66 - a), LevelBar) << a;
  EXPECT_EQ(Strip(0, 61), Empty);
  EXPECT_EQ(Strip(0, 56), view_colours::Threshold);
  for (int y = 69; y <= 73; ++y) EXPECT_EQ(Strip(0, y), OffFlag) << y;
  for (int y = 74; y <= 81; ++y) EXPECT_EQ(Strip(0, y), Empty) << y;
  EXPECT_EQ(Strip(1, 40), StripBlank);  // not drawn yet
}

struct BarCase {
  const char* name;
  int level;
  int threshold;
  int yellow;         // bar pixels drawn yellow
  int red_row;        // -1: no red pixel in the bar
};

class LevelBarRows : public ViewTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(LevelBarRows, BarAndThresholdPixel) {
  const BarCase& c = GetParam();
  doc.LevelTrace[0] = c.level;
  doc.Threshold = c.threshold;
  Capturing(1);
  view.OnDraw(dc);
  int yellow = 0;
  int red_row = -1;
  for (int y = 35; y <= 66; ++y) {
    if (Strip(0, y) == LevelBar) ++yellow;
    if (Strip(0, y) == view_colours::Threshold) red_row = y;
  }
  EXPECT_EQ(yellow, c.yellow);
  EXPECT_EQ(red_row, c.red_row);
}

INSTANTIATE_TEST_SUITE_P(
    View, LevelBarRows,
    ::testing::Values(BarCase{"level0", 0, 384, 0, 50},
                      BarCase{"level23", 23, 384, 0, 50},
                      BarCase{"level768", 768, 384, 31, 50},        // all but the threshold pixel
                      BarCase{"level765", 765, 2000, 31, -1},      // 765 / 24 = 31 pixels
                      BarCase{"level768NoRed", 768, 768, 32, -1},   // threshold 768: no red
                      BarCase{"level5000", 5000, 0, 31, 66},        // threshold 0 at the foot
                      BarCase{"thresholdTop", 0, 767, 0, 35}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ViewTest, ThreeBlockMarkerRunIsDrawn62ColumnsBack) {
  for (int col = 100; col <= 102; ++col) doc.MarkerFlags[col] = 1;
  Capturing(110);
  view.OnDraw(dc);
  for (int x = 38; x <= 40; ++x)
    for (int y = 76; y <= 80; ++y) EXPECT_EQ(Strip(x, y), MarkerFlag) << x << "," << y;
  EXPECT_EQ(Strip(37, 78), Empty);
  EXPECT_EQ(Strip(41, 78), Empty);
  // The flagged columns themselves keep what they had (nothing yet: white).
  for (int x = 100; x <= 102; ++x) EXPECT_EQ(Strip(x, 78), StripBlank) << x;
  EXPECT_EQ(Strip(103, 78), Empty);
}

TEST_F(ViewTest, MarkerNearTheRingStartWrapsToTheEnd) {
  doc.MarkerFlags[10] = 1;
  Capturing(11);
  view.OnDraw(dc);
  EXPECT_EQ(Strip(548, 78), MarkerFlag);  // 10 + 600 - 62
}

TEST_F(ViewTest, StripIsRightAlignedAndLeavesTheLastColumn) {
  doc.SpectrumTrace[0][0] = 10;
  doc.SpectrumTrace[9][0] = 90;
  Capturing(10);
  view.OnUpdate(0);
  view.OnDraw(dc);
  ASSERT_EQ(view.StripX, 10);
  const int right = kClientWidth;
  EXPECT_EQ(dc.Get(right - 2, 32), (Rgb{90, 90, 90}));   // newest column
  EXPECT_EQ(dc.Get(right - 11, 32), (Rgb{10, 10, 10}));  // ten columns back
  EXPECT_EQ(dc.Get(right - 12, 32), StripBlank);         // undrawn strip columns
  EXPECT_EQ(dc.Get(right - 601, 32), StripBlank);        // oldest strip column
  EXPECT_EQ(dc.Get(right - 602, 32), Background);        // left of the strip
  EXPECT_EQ(dc.Get(right - 1, 40), Background);          // R - 1 keeps the background
  EXPECT_EQ(dc.Get(right - 1, 32), Background);
  EXPECT_EQ(dc.Get(100, 82), Background);                // below the strip
  EXPECT_EQ(WindowX(9), right - 2);
}

TEST_F(ViewTest, TuningMarkLeavesAVShapedGapExceptInMode6) {
  Capturing(1);
  doc.StationMode = StationDcf77;
  view.OnDraw(dc);
  const int r = kClientWidth;
  auto red = [&](int x, int j) { return dc.Get(x, 32 - j) == view_colours::Threshold; };
  for (int j = 0; j <= 31; ++j) {
    EXPECT_EQ(red(r - 20, j), j < 13 || j > 19) << j;
    EXPECT_EQ(red(r - 16, j), j < 13 || j > 19) << j;
    EXPECT_EQ(red(r - 19, j), j < 14 || j > 18) << j;
    EXPECT_EQ(red(r - 17, j), j < 14 || j > 18) << j;
    EXPECT_EQ(red(r - 18, j), j < 15 || j > 17) << j;
    EXPECT_FALSE(red(r - 21, j));
    EXPECT_FALSE(red(r - 15, j));
  }
  EXPECT_FALSE(red(r - 18, 32));  // row 0 is not marked
  EXPECT_FALSE(view.StripBitmap.Get(view.StripX - 1, 0) == view_colours::Threshold);  // not in the strip
}

TEST_F(ViewTest, Mode6DrawsBlackSpectrumAndNoTuningMark) {
  doc.StationMode = StationWwv;
  Capturing(3);
  view.OnDraw(dc);
  const int r = kClientWidth;
  for (int y = 0; y <= 32; ++y) {
    EXPECT_EQ(Strip(0, y), Empty);
    for (int x = r - 20; x <= r - 16; ++x) EXPECT_NE(dc.Get(x, y), view_colours::Threshold) << x << "," << y;
  }
}

TEST_F(ViewTest, PaintWithNothingNewOnlyCopiesTheStrip) {
  doc.SpectrumTrace[4][0] = 44;
  Capturing(5);
  view.OnDraw(dc);
  const RgbImage before = view.StripBitmap;
  doc.SpectrumTrace[4][0] = 200;  // changed trace, but no new column
  dc.Set(kClientWidth - 2, 32, Rgb{1, 2, 3});
  view.OnUpdate(UPDATE_HINT_NEW_BUFFER);
  view.OnDraw(dc);
  EXPECT_EQ(view.ViewColumn, 5);
  EXPECT_EQ(view.StripX, 5);
  EXPECT_EQ(std::memcmp(before.Data(), view.StripBitmap.Data(), 600 * 82 * 3), 0);
  EXPECT_EQ(dc.Get(kClientWidth - 2, 32), (Rgb{44, 44, 44}));  // copied again
}

TEST_F(ViewTest, RingWrapsAndRestartDrawsOnFromWhereTheViewStopped) {
  doc.SpectrumTrace[599][0] = 59;
  doc.SpectrumTrace[0][0] = 60;
  Capturing(598);
  view.OnDraw(dc);
  ASSERT_EQ(view.ViewColumn, 598);
  doc.DisplayColumn = 2;  // four more blocks: 598, 599, 0, 1
  view.OnDraw(dc);
  EXPECT_EQ(view.ViewColumn, 2);
  EXPECT_EQ(view.StripX, 2);
  EXPECT_EQ(Strip(599, 32), (Rgb{59, 59, 59}));
  EXPECT_EQ(Strip(0, 32), (Rgb{60, 60, 60}));
  // A restart puts DisplayColumn back to 0; the view goes on forward until it meets it.
  doc.DisplayColumn = 0;
  view.OnDraw(dc);
  EXPECT_EQ(view.ViewColumn, 0);
  EXPECT_EQ(view.StripX, 0);
}

TEST_F(ViewTest, StoppedCaptureStillShowsItsTraces) {
  Capturing(4);
  doc.Stopped = 1;  // TracesValid and CaptureStarted stay 1 after a stop
  view.OnDraw(dc);
  EXPECT_EQ(view.ViewColumn, 4);
}

TEST(RgbImageFlood, StopsAtTheBorderColourOnly) {
  RgbImage img(10, 5, Rgb{255, 255, 255});
  for (int y = 0; y < 5; ++y) img.Set(5, y, Rgb{0, 0, 0});  // a black wall
  img.Set(2, 2, Rgb{0, 0, 127});                              // already the fill colour
  img.FloodFill(1, 1, Rgb{0, 0, 127}, Rgb{0, 0, 0});
  EXPECT_EQ(img.Get(0, 0), (Rgb{0, 0, 127}));
  EXPECT_EQ(img.Get(4, 4), (Rgb{0, 0, 127}));
  EXPECT_EQ(img.Get(6, 0), (Rgb{255, 255, 255}));
  // Starting on the border colour fills nothing.
  img.FloodFill(5, 0, Rgb{9, 9, 9}, Rgb{0, 0, 0});
  EXPECT_EQ(img.Get(5, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(img.Get(7, 0), (Rgb{255, 255, 255}));
}

}  // namespace

namespace {

TEST(RgbImageBlit, ClipsOnEverySide) {
  RgbImage src(4, 3, Rgb{});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) src.Set(x, y, Rgb{uint8_t(x), uint8_t(y), 9});
  RgbImage dst(5, 5, Rgb{255, 255, 255});
  dst.Blit(-1, 3, 4, 3, src, 0, 0);  // left and bottom cut off
  EXPECT_EQ(dst.Get(0, 3), (Rgb{1, 0, 9}));
  EXPECT_EQ(dst.Get(2, 4), (Rgb{3, 1, 9}));
  EXPECT_EQ(dst.Get(3, 3), (Rgb{255, 255, 255}));
  dst.Blit(3, 0, 4, 2, src, 1, 1);  // right cut off, source rows 1..2
  EXPECT_EQ(dst.Get(3, 0), (Rgb{1, 1, 9}));
  EXPECT_EQ(dst.Get(4, 1), (Rgb{2, 2, 9}));
  dst.Blit(0, 0, 3, 3, src, 3, 2);  // only source pixel (3, 2) exists
  EXPECT_EQ(dst.Get(0, 0), (Rgb{3, 2, 9}));
  EXPECT_EQ(dst.Get(1, 0), (Rgb{255, 255, 255}));
  dst.Blit(0, 0, 600, 82, src, -2, 0);  // a source x left of the image
  EXPECT_EQ(dst.Get(2, 0), (Rgb{0, 0, 9}));
}

}  // namespace
