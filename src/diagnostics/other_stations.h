// SPDX-License-Identifier: GPL-3.0-or-later
// Other stations' minute markers in the same audio. When the selected station shows no minute
// markers, the likeliest mistake is the wrong station: this runs every other station's own
// decoder side by side, each in a shadow document fed with the very buffers the clock's
// document measures. The shadows never set a clock and never touch the clock's document.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "diagnostics/signal_health.h"

class OtherStations : public DocObserver {
 public:
  // Watches every station but `station_mode`. `measured_by`, when given, is the clock's
  // document that these buffers are fed to: the shadows then take the blocks' spectrum rows
  // from it once it has measured a buffer, instead of measuring the same samples again.
  explicit OtherStations(int station_mode, const CVarnolDoc* measured_by = nullptr);
  ~OtherStations() override;

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnUpdate(int hint) override;

  // While `wanted` says false the shadows rest (the selected station's own minute markers have
  // come, so another station's are no longer a likely reason); unset, they always run.
  void SetWanted(std::function<bool()> wanted) { wanted_ = std::move(wanted); }

  // Per other station: its minute-spaced markers and accepted minutes so far.
  std::vector<OtherStationSeen> Seen() const;

 private:
  struct Shadow;
  std::vector<std::unique_ptr<Shadow>> shadows_;
  std::function<bool()> wanted_;
  const CVarnolDoc* measured_by_;
  bool pending_ = false;  // the shadows hold a buffer that waits for measured_by_'s rows
};
