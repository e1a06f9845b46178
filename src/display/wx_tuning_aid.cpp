// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/wx_tuning_aid.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double TopHz = 4000.0;  // the right edge: half of 8000 samples a second
constexpr int Margin = 8;         // pixels left and right of the plots
constexpr int CaptionHeight = 20;
constexpr int SpectrumHeight = 110;
constexpr int ScaleHeight = 18;
constexpr int CanvasWidth = 640;
constexpr int CanvasHeight = CaptionHeight + SpectrumHeight + ScaleHeight + CTuningAidFrame::Rows + 4;

// dB above the noise (the row's median bin) to a colour: black, blue, cyan, yellow, white.
wxColour Heat(double above_noise_db) {
  const double t = std::clamp((above_noise_db + 5.0) / 50.0, 0.0, 1.0);
  static const unsigned char stops[5][3] = {
      {0, 0, 0}, {0, 0, 200}, {0, 200, 220}, {250, 230, 0}, {255, 255, 255}};
  const double at = t * 4.0;
  const int i = std::min(3, static_cast<int>(at));
  const double f = at - i;
  auto mix = [&](int c) {
    return static_cast<unsigned char>(stops[i][c] + f * (stops[i + 1][c] - stops[i][c]));
  };
  return wxColour(mix(0), mix(1), mix(2));
}

// The median of `db` (the noise: a tone fills few bins).
float Median(const float* db, int n, std::vector<float>& scratch) {
  scratch.assign(db, db + n);
  std::nth_element(scratch.begin(), scratch.begin() + n / 2, scratch.end());
  return scratch[static_cast<size_t>(n / 2)];
}

}  // namespace

CTuningAidFrame::CTuningAidFrame(wxWindow* parent, InputStages& stages)
    : wxFrame(parent, wxID_ANY, "Tuning aid", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE | wxFRAME_FLOAT_ON_PARENT),
      stages_(stages),
      rows_(static_cast<size_t>(Rows) * TuningSpectrum::Bins, -200.0f) {
  canvas_ = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxSize(CanvasWidth, CanvasHeight));
  canvas_->SetBackgroundStyle(wxBG_STYLE_PAINT);
  canvas_->SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  SetClientSize(CanvasWidth, CanvasHeight);
  SetMinClientSize(wxSize(300, CanvasHeight));
  // Beside the clock's window, below its right end.
  if (parent != nullptr) SetPosition(parent->GetScreenRect().GetBottomLeft() + wxPoint(0, 30));
  canvas_->Bind(wxEVT_PAINT, &CTuningAidFrame::OnPaint, this);
  Bind(wxEVT_CLOSE_WINDOW, &CTuningAidFrame::OnClose, this);
  timer_.SetOwner(this);
  Bind(wxEVT_TIMER, &CTuningAidFrame::OnTimer, this);
  stages_.SetTapOn(true);
  seen_ = std::max<int64_t>(0, stages_.Tap().Written() - TuningSpectrum::Size);
  tone_ = stages_.Tone();
  caption_ = MakeCaption(tone_);
  timer_.Start(125);
}

CTuningAidFrame::~CTuningAidFrame() {
  timer_.Stop();
  stages_.SetTapOn(false);
}

void CTuningAidFrame::OnClose(wxCloseEvent&) {
  timer_.Stop();
  stages_.SetTapOn(false);
  if (gone_) {
    auto gone = std::move(gone_);
    gone_ = nullptr;
    gone();
  }
  Destroy();
}

void CTuningAidFrame::OnTimer(wxTimerEvent&) {
  tone_ = stages_.Tone();
  caption_ = MakeCaption(tone_);
  const SampleTap& tap = stages_.Tap();
  // A row for every 128 ms of new audio (a capture buffer brings two); while the capture is
  // stopped the picture stands still. Audio the ring no longer holds is passed over.
  if (tap.Written() - seen_ > SampleTap::Capacity) seen_ = tap.Written() - SampleTap::Capacity;
  while (tap.Written() - seen_ >= TuningSpectrum::Size &&
         tap.Copy(seen_, samples_.data(), TuningSpectrum::Size)) {
    seen_ += TuningSpectrum::Size;
    spectrum_.Compute(samples_.data());
    newest_ = (newest_ + 1) % Rows;
    std::copy(spectrum_.Db().begin(), spectrum_.Db().end(),
              rows_.begin() + static_cast<std::ptrdiff_t>(newest_) * TuningSpectrum::Bins);
    ++rows_drawn_;
  }
  canvas_->Refresh(false);
}

wxString CTuningAidFrame::MakeCaption(const ToneState& state) const {
  switch (state.phase) {
    case ToneState::Phase::None:
      return "No tone stage: the simulated receiver puts its tone where the clock measures it";
    case ToneState::Phase::Searching:
      return wxString::Format("Looking for the station's tone: %.0f s of %.0f heard", state.heard_seconds,
                              LiveToneStage::DecideAfterSeconds);
    case ToneState::Phase::Decided: break;
  }
  const ToneDecision& d = state.decision;
  if (d.shifted && state.at_file_rate)
    return wxString::Format("Tone %.1f Hz, moved %+.1f Hz before resampling: shown where it is measured",
                            d.from_hz, d.ShiftHz());
  if (d.shifted && !d.found.found)
    return wxString::Format("Tone %.10g Hz as given, moved %+.10g Hz to where the clock measures", d.from_hz,
                            d.ShiftHz());
  if (d.shifted)
    return wxString::Format("Tone %.1f Hz, moved %+.1f Hz to where the clock measures", d.from_hz,
                            d.ShiftHz());
  if (d.found.found) return wxString::Format("Tone %.1f Hz, measured where it is", d.found.hz);
  // Not looked for, or not found: the decision's own words.
  return "Tone: " + wxString::FromUTF8(d.text);
}

void CTuningAidFrame::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(canvas_);
  Draw(dc, canvas_->GetClientSize());
}

void CTuningAidFrame::Draw(wxDC& dc, const wxSize& size) {
  dc.SetBackground(wxBrush(wxColour(0, 0, 0)));
  dc.Clear();
  dc.SetFont(canvas_->GetFont());
  const int width = std::max(1, size.x - 2 * Margin);
  auto x_of = [&](double hz) { return Margin + static_cast<int>(std::lround(hz / TopHz * width)); };
  // The bins a pixel column covers.
  auto bins_of = [&](int px, int& first, int& last) {
    first = TuningSpectrum::BinOf(static_cast<double>(px) / width * TopHz);
    last = std::max(first, TuningSpectrum::BinOf(static_cast<double>(px + 1) / width * TopHz) - 1);
  };
  const float* newest = rows_.data() + static_cast<size_t>(newest_) * TuningSpectrum::Bins;
  std::vector<float> scratch;
  const float noise = Median(newest, TuningSpectrum::Bins, scratch);

  dc.SetTextForeground(wxColour(230, 230, 230));
  dc.DrawText(caption_, Margin, 2);

  // The spectrum: 70 dB from the noise's 10 dB below to 60 dB above.
  const int top = CaptionHeight;
  const double low_db = noise - 10.0, high_db = noise + 60.0;
  if (rows_drawn_ > 0) {
    std::vector<wxPoint> line;
    line.reserve(static_cast<size_t>(width));
    for (int px = 0; px < width; ++px) {
      int first = 0, last = 0;
      bins_of(px, first, last);
      float db = newest[first];
      for (int b = first + 1; b <= last; ++b) db = std::max(db, newest[b]);
      const double f = std::clamp((db - low_db) / (high_db - low_db), 0.0, 1.0);
      line.emplace_back(Margin + px, top + SpectrumHeight - 1 - static_cast<int>(f * (SpectrumHeight - 1)));
    }
    dc.SetPen(wxPen(wxColour(120, 255, 120)));
    dc.DrawLines(static_cast<int>(line.size()), line.data());
  }

  // The frequency scale: a tick every 500 Hz, labelled every kHz.
  const int scale_top = top + SpectrumHeight;
  dc.SetPen(wxPen(wxColour(160, 160, 160)));
  dc.DrawLine(Margin, scale_top, Margin + width, scale_top);
  for (int hz = 0; hz <= 4000; hz += 500) {
    const int x = x_of(hz);
    dc.DrawLine(x, scale_top, x, scale_top + (hz % 1000 == 0 ? 6 : 3));
    if (hz % 1000 == 0) {
      const wxString label = hz == 0 ? wxString("0") : wxString::Format("%d kHz", hz / 1000);
      const int w = dc.GetTextExtent(label).x;
      dc.DrawText(label, std::clamp(x - w / 2, 0, size.x - w), scale_top + 5);
    }
  }

  // The waterfall, newest row at the top.
  const int fall_top = scale_top + ScaleHeight;
  wxImage image(width, Rows);
  unsigned char* rgb = image.GetData();
  for (int r = 0; r < Rows; ++r) {
    const float* row = rows_.data() + static_cast<size_t>((newest_ - r + Rows) % Rows) * TuningSpectrum::Bins;
    for (int px = 0; px < width; ++px) {
      int first = 0, last = 0;
      bins_of(px, first, last);
      float db = row[first];
      for (int b = first + 1; b <= last; ++b) db = std::max(db, row[b]);
      const wxColour c = r < rows_drawn_ ? Heat(db - noise) : wxColour(0, 0, 0);
      unsigned char* p = rgb + 3 * (static_cast<size_t>(r) * width + px);
      p[0] = c.Red();
      p[1] = c.Green();
      p[2] = c.Blue();
    }
  }
  dc.DrawBitmap(wxBitmap(image), Margin, fall_top);

  // Where the clock measures, and where the tone was found (with an arrow when it is moved).
  const int bottom = fall_top + Rows;
  const int measured_x = x_of(tone_.measured_hz);
  dc.SetPen(wxPen(wxColour(0, 255, 0), 1, wxPENSTYLE_SHORT_DASH));
  dc.DrawLine(measured_x, top, measured_x, bottom);
  dc.SetTextForeground(wxColour(0, 255, 0));
  dc.DrawText(wxString::Format("measured %.0f Hz", tone_.measured_hz), measured_x + 3, top + 2);
  const ToneDecision& d = tone_.decision;
  const double found_hz = d.shifted ? d.from_hz : d.found.found ? d.found.hz : 0.0;
  if (tone_.phase == ToneState::Phase::Decided && found_hz > 0.0 && found_hz <= TopHz &&
      !tone_.at_file_rate) {
    const int found_x = x_of(found_hz);
    dc.SetPen(wxPen(wxColour(255, 220, 0), 1, wxPENSTYLE_SHORT_DASH));
    dc.DrawLine(found_x, top, found_x, bottom);
    dc.SetTextForeground(wxColour(255, 220, 0));
    const wxString label = wxString::Format("tone %.0f Hz", found_hz);
    const int w = dc.GetTextExtent(label).x;
    const int label_x = found_x < measured_x ? found_x - w - 3 : found_x + 3;
    dc.DrawText(label, std::clamp(label_x, 0, size.x - w), top + 18);
    if (d.shifted && std::abs(found_x - measured_x) > 6) {
      // The arrow of the move, half-way down the spectrum.
      const int y = top + SpectrumHeight / 2;
      const int dir = measured_x > found_x ? 1 : -1;
      dc.SetPen(wxPen(wxColour(255, 220, 0), 2));
      dc.DrawLine(found_x, y, measured_x - dir * 2, y);
      const wxPoint head[3] = {{measured_x, y}, {measured_x - dir * 7, y - 4}, {measured_x - dir * 7, y + 4}};
      dc.SetBrush(wxBrush(wxColour(255, 220, 0)));
      dc.DrawPolygon(3, head);
    }
  }
}
