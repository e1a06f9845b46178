// SPDX-License-Identifier: GPL-3.0-or-later
// The tuning aid: a small window beside the clock's that shows the receiver's audio over
// 0..4000 Hz -- the spectrum of the last 128 ms above, a waterfall of the last 15 seconds below
// (a keyed station's tone is a dashed line in it, one dash a second) -- and marks where the tone
// was found and where the clock measures it (1000 Hz; 100 Hz for WWV/WWVH), with an arrow when
// the tone is moved. It takes the audio from the input stages' tap: the capture copies into the
// tap's ring, and this window's timer transforms and draws, eight times a second.
#pragma once

#include <wx/wx.h>

#include <array>
#include <functional>
#include <vector>

#include "conditioning/input_stages.h"
#include "conditioning/tuning_spectrum.h"

class CTuningAidFrame : public wxFrame {
 public:
  static constexpr int Rows = 120;  // waterfall rows, one per 128 ms of audio (15 s)

  CTuningAidFrame(wxWindow* parent, InputStages& stages);
  ~CTuningAidFrame() override;
  // Called when the window closes (by its close box, or closed by the clock's window).
  void OnGone(std::function<void()> gone) { gone_ = std::move(gone); }

  // The caption as last drawn, and the rows drawn so far (for the window tests).
  const wxString& Caption() const { return caption_; }
  int RowsDrawn() const { return rows_drawn_; }

 private:
  void OnTimer(wxTimerEvent& event);
  void OnPaint(wxPaintEvent& event);
  void OnClose(wxCloseEvent& event);
  void Draw(wxDC& dc, const wxSize& size);
  wxString MakeCaption(const ToneState& state) const;

  InputStages& stages_;
  std::function<void()> gone_;
  wxWindow* canvas_ = nullptr;
  wxTimer timer_;
  TuningSpectrum spectrum_;
  std::array<int16_t, TuningSpectrum::Size> samples_{};
  std::vector<float> rows_;  // Rows x Bins dB, newest at row `newest_`
  int newest_ = 0;
  int rows_drawn_ = 0;
  int64_t seen_ = 0;  // the tap's count at the last transform
  ToneState tone_;
  wxString caption_;
};
