// SPDX-License-Identifier: GPL-3.0-or-later
#include <wx/dcmemory.h>
#include <wx/iconbndl.h>

#include <cmath>

#include "setup/wx_setup_dlg.h"

namespace {

// A clock face with a mast sending waves: the program sets a clock from the radio.
void DrawClock(wxDC& dc, int size, bool waves) {
  const double s = size / 32.0;
  auto px = [s](double v) { return static_cast<int>(std::lround(v * s)); };
  const wxPoint centre(px(waves ? 18 : 16), px(waves ? 18 : 16));
  const int radius = px(waves ? 12 : 14);
  dc.SetPen(wxPen(wxColour(0, 0, 128), std::max(1, px(1.5))));
  dc.SetBrush(wxBrush(wxColour(255, 255, 224)));
  dc.DrawCircle(centre, radius);
  for (int h = 0; h < 12; ++h) {
    double a = h * M_PI / 6;
    wxPoint outer(centre.x + static_cast<int>(std::lround(radius * 0.85 * std::sin(a))),
                  centre.y - static_cast<int>(std::lround(radius * 0.85 * std::cos(a))));
    dc.DrawPoint(outer);
  }
  dc.SetPen(wxPen(wxColour(0, 0, 0), std::max(1, px(2))));
  dc.DrawLine(centre, wxPoint(centre.x, centre.y - static_cast<int>(radius * 0.75)));
  dc.DrawLine(centre, wxPoint(centre.x + static_cast<int>(radius * 0.5), centre.y));
  if (waves) {
    dc.SetPen(wxPen(wxColour(200, 0, 0), std::max(1, px(1))));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    for (int r = 1; r <= 3; ++r) {
      dc.DrawEllipticArc(px(5) - px(2.5 * r), px(5) - px(2.5 * r), px(5 * r), px(5 * r), 0, 90);
    }
  }
}

wxBitmap ClockBitmap(int size, const wxColour& background) {
  wxBitmap bitmap(size, size, 24);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(background));
  dc.Clear();
  DrawClock(dc, size, size >= 32);
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

}  // namespace

wxBitmap SetupPicture() {
  wxBitmap bitmap(138, 140, 24);
  wxMemoryDC dc(bitmap);
  for (int y = 0; y < 140; ++y) {  // a sky from deep blue down to pale
    unsigned char v = static_cast<unsigned char>(60 + y);
    dc.SetPen(wxPen(wxColour(v / 2, v, static_cast<unsigned char>(150 + y * 105 / 140))));
    dc.DrawLine(0, y, 138, y);
  }
  dc.SetDeviceOrigin(5, 6);
  {
    wxBitmap clock = ClockBitmap(128, wxColour(150, 190, 240));
    wxMask* mask = new wxMask(clock, wxColour(150, 190, 240));
    clock.SetMask(mask);
    dc.DrawBitmap(clock, 0, 0, true);
  }
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

wxIconBundle SetupIcons() {
  wxIconBundle icons;
  for (int size : {16, 32}) {
    wxBitmap bitmap = ClockBitmap(size, wxColour(0, 128, 128));
    bitmap.SetMask(new wxMask(bitmap, wxColour(0, 128, 128)));
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    icons.AddIcon(icon);
  }
  return icons;
}
