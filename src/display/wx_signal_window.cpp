// The window that shows the strip chart: it keeps the client area as a pixel image (a window's
// content persists between paints) and lets CVarnolView paint into it.
#include <wx/dcclient.h>
#include <wx/image.h>

#include "app/wx_varnol.h"

CVarnolViewWindow::CVarnolViewWindow(wxWindow* parent, CVarnolDoc& doc)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      doc_(doc),
      view_(doc) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);  // every pixel comes from the image
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
  wxImage image(canvas_.Width(), canvas_.Height(), canvas_.Data(), true);
  dc.DrawBitmap(wxBitmap(image), 0, 0);
}
