// SPDX-License-Identifier: GPL-3.0-or-later
// The window that shows the strip chart: it keeps the client area as a pixel image (a window's
// content persists between paints) and lets CVarnolView paint into it.
#include <wx/dcclient.h>
#include <wx/rawbmp.h>
#include <wx/settings.h>

#include <cstddef>
#include <cstring>

#include "app/wx_varnol.h"

CVarnolViewWindow::CVarnolViewWindow(wxWindow* parent, CVarnolDoc& doc)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      doc_(doc),
      view_(doc) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);  // every pixel comes from the image
  // A font and colours of its own: otherwise every paint asks the desktop theme for them.
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  SetForegroundColour(wxColour(255, 255, 255));
  SetBackgroundColour(wxColour(0, 0, 127));
  SetHelpText("The signal of the last ten seconds: spectrum, tone level with the threshold "
              "(red), blocks below the threshold (blue) and minute markers (cyan).");
  view_.Invalidate = [this](bool erase) {
    if (erase) erase_pending_ = true;
    Refresh(false);
  };
  doc_.AddObserver(&view_);
  Bind(wxEVT_PAINT, &CVarnolViewWindow::OnPaint, this);
  Bind(wxEVT_SIZE, &CVarnolViewWindow::OnSize, this);
}

CVarnolViewWindow::~CVarnolViewWindow() { doc_.RemoveObserver(&view_); }

void CVarnolViewWindow::OnSize(wxSizeEvent& event) {
  // A new size is painted from an erased area, background first.
  erase_pending_ = true;
  view_.LastUpdateHint = 0;
  Refresh(false);
  event.Skip();
}

void CVarnolViewWindow::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  if (size.x <= 0 || size.y <= 0) return;
  if (canvas_.Width() != size.x || canvas_.Height() != size.y) {
    canvas_.Resize(size.x, size.y, view_colours::WindowErased);
    erase_pending_ = false;
  } else if (erase_pending_) {
    canvas_.Fill(view_colours::WindowErased);
    erase_pending_ = false;
  }
  view_.OnDraw(canvas_);
  // The image goes to the screen through one bitmap kept from paint to paint.
  if (!bitmap_.IsOk() || bitmap_.GetWidth() != canvas_.Width() || bitmap_.GetHeight() != canvas_.Height())
    bitmap_.Create(canvas_.Width(), canvas_.Height(), 24);
  {
    // Three bytes a pixel, red first, as the canvas: whole rows are copied.
    static_assert(wxNativePixelFormat::RED == 0 && wxNativePixelFormat::GREEN == 1 &&
                  wxNativePixelFormat::BLUE == 2 && wxNativePixelFormat::SizePixel == 3);
    wxNativePixelData data(bitmap_);  // the pixels are handed back when it goes
    if (!data) return;
    wxNativePixelData::Iterator origin(data);
    auto* rows = reinterpret_cast<unsigned char*>(origin.m_ptr);
    const size_t row_bytes = static_cast<size_t>(canvas_.Width()) * 3;
    for (int y = 0; y < canvas_.Height(); ++y)
      std::memcpy(rows + static_cast<ptrdiff_t>(y) * data.GetRowStride(),
                  canvas_.Data() + static_cast<size_t>(y) * row_bytes, row_bytes);
  }
  dc.DrawBitmap(bitmap_, 0, 0);
}
