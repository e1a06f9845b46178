// SPDX-License-Identifier: GPL-3.0-or-later
// CVarnolDoc: the one document of the radio clock. It owns every piece of state for the whole
// run -- settings, the two capture buffers and their headers, the front end's tables, traces,
// ring and trackers, the marker counters, the decoded minutes, the WWV detector and the status
// text -- as plain fields in fixed arrays allocated once. It reaches the outside world only
// through the services it is given at construction (wave input, system clock, settings store,
// wave-error dialog), so tests drive it with fakes.
//
// Time scales used below: a block is 128 samples (about 16 ms); `BlocksPerMinute` blocks make
// one minute of the sound card's true time; the ring holds the last minute of block levels.
#pragma once

#include <cstdint>
#include <string>

#include "capture/wave_input.h"
#include "decoders/chu_fsk.h"
#include "platform/system_clock.h"

class CVarnolDoc;

constexpr int BlockSize = 128;        // samples
constexpr int BufferSamples = 2048;   // samples: 16 blocks, 256 ms at 8000 samples per second
constexpr int CaptureBufferCount = 2;
constexpr int TraceColumns = 600;     // blocks shown in the strip chart (about 10 s)
constexpr int SpectrumBins = 64;
constexpr int LevelRingCapacity = 3800;
constexpr int MinBlocksPerMinute = 3700;
constexpr int MaxBlocksPerMinute = 3800;
constexpr int DefaultBlocksPerMinute = 3756;
constexpr int MaxMinuteRecords = 7;
constexpr int UPDATE_HINT_NEW_BUFFER = 99;
constexpr int UPDATE_HINT_CAPTURE_STARTED = 0;
constexpr int SyncWindowBlocks = 10;
constexpr double SyncPhaseStep = 0.07841414786627582;  // radians per sample: 100 Hz at 8012.8 Hz
constexpr double SyncPhaseWrap = 6.2831853072;          // two pi to ten decimals, as compared

// Stations in the order of the "Transmitter" menu; the number is also the one stored in the
// settings, so a new station is added at the end.
enum StationModes : int {
  StationMsf = 0,
  StationHbg = 1,
  StationDcf77 = 2,
  StationWwvb = 3,
  StationVng = 4,
  StationRwm = 5,
  StationWwv = 6,
  StationJjy = 7,
  StationChu = 8,
};
constexpr int StationCount = 9;

// "No minute handed to the clock step yet": no decoded minute of day can follow it.
constexpr int NoPreviousMinute = -10;

struct MinuteRecord {
  char Text[32] = {};  // reset text as formatted at decode time
  int Hour = 0;        // as decoded, in the station's own time scale
  int Minute = 0;
  int SummerTime = 0;  // the summer-time bit read on the same block as Hour and Minute
};

// What a JJY minute gives besides its hour and minute, read with the last minute recorded.
// Only the hour and minute are guarded by parity bits; the rest is reported as read.
struct JjyMinuteInfo {
  int CodeHour = 0, CodeMinute = 0;  // JST at the start of the minute that carried the code
  int DayOfYear = 0;                 // 1..366 (JST)
  int Year = -1;                     // of the century; -1 in a call-sign minute (not sent)
  int Weekday = -1;                  // 0 = Sunday; -1 in a call-sign minute
  int CallSign = 0;                  // 1: the call sign in Morse was heard in seconds 40..48
  int LeapSecond = 0;                // at the end of this month: 0 none, 1 inserted, 2 removed
};

// Where the document's state changes are reported: the window's views redraw on hint 99,
// the command-line tool prints status texts, clock writes and clock offsets.
// What became of the snapshot at a stop of the capture.
enum class SnapshotOutcome {
  NotAsked,           // no snapshot file is configured
  Written,            // written whole
  WouldReplaceInput,  // the target is the recording being played: left alone
  CannotWrite,        // the folder or file cannot be written: nothing changed
};

class DocObserver {
 public:
  virtual ~DocObserver() = default;
  virtual void OnUpdate(int hint) { (void)hint; }
  virtual void OnStatusText(const char* text) { (void)text; }
  // A clock write: the UTC time handed to SetSystemTime and whether it succeeded.
  virtual void OnClockWrite(const SYSTEMTIME& written, bool ok) {
    (void)written;
    (void)ok;
  }
  virtual void OnSyncOffset(int64_t seconds) { (void)seconds; }
  // A stop of the capture has dealt with the snapshot; `error` is the errno of a failure.
  virtual void OnSnapshot(SnapshotOutcome outcome, const char* path, int error) {
    (void)outcome;
    (void)path;
    (void)error;
  }
  // A capture buffer just before the front end measures it (after any input filter): `count`
  // samples at 8000 per second, `first_block` the value BlocksProcessed takes for its first
  // block, `capture_time_ns` the CLOCK_REALTIME of its first sample (0 when unknown). A second
  // consumer of the audio reads it here; it must not keep the pointer.
  virtual void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                               int64_t capture_time_ns) {
    (void)samples;
    (void)count;
    (void)first_block;
    (void)capture_time_ns;
  }
  // The clock step accepted a decoded minute (it followed the previous one): the minute in UT
  // (station's own scale already corrected, the user's PC offset not added), and
  // BlocksProcessed at the first block after the marker run (0 or less when that lies before the
  // capture's first block: CHU names its minute from seconds 32..39, after it began). The hour
  // may lie outside 0..23 (a station hour 0 less the CET correction, or hour 24): take it
  // modulo the day.
  virtual void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
    (void)ut_hour;
    (void)ut_minute;
    (void)block;
  }
};

// Changes the samples before the front end sees them, in place (a gain stage, as if the
// recording level had been turned). Runs on the processing path: no allocation, no waiting.
class CaptureFilter {
 public:
  virtual ~CaptureFilter() = default;
  virtual void Apply(int16_t* samples, int count) = 0;
};

// Shows the two-line wave-error message (operation text over reason text) and returns when
// the user has acknowledged it.
class WaveErrorDialog {
 public:
  virtual ~WaveErrorDialog() = default;
  virtual void ShowModal(const std::string& operation, const std::string& reason) = 0;
};

// Persisted settings: read at the end of construction, written at destruction.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual void Load(CVarnolDoc& doc) = 0;
  virtual void Save(const CVarnolDoc& doc) = 0;
};

class CVarnolDoc {
 public:
  CVarnolDoc(WaveInput& wave, SystemClock& clock, WaveErrorDialog& errors,
             SettingsStore* settings = nullptr);
  ~CVarnolDoc();
  CVarnolDoc(const CVarnolDoc&) = delete;
  CVarnolDoc& operator=(const CVarnolDoc&) = delete;

  // --- Settings, persisted -------------------------------------------------------------
  int StationMode = 0;              // 0..6, see StationModes
  double PcClockOffset = 0.0;       // hours, -13..+13: PC clock offset from UT
  int AutoSetClock = 0;             // the clock is written only when this is 1
  int BlocksPerMinute = DefaultBlocksPerMinute;  // soundcard calibration, 3700..3800

  // --- Settings, not persisted ----------------------------------------------------------
  int AdjustCalibration = 0;

  // --- Derived text and status ------------------------------------------------------------
  char UtOffsetLabel[32] = {};      // PcClockOffset as "%c%04.1lf"
  char StatusText[64] = {};

  // --- Capture ---------------------------------------------------------------------------
  int16_t* CaptureBuffers[CaptureBufferCount] = {};  // BufferSamples each
  WAVEHDR WaveHeaders[CaptureBufferCount];
  HWAVEIN WaveHandle = 0;
  WAVEFORMATEX CaptureFormat;
  int CurrentBuffer = 0;
  int Stopped = 1;
  int CaptureStarted = 0;
  int TracesValid = 0;

  // --- Front end -------------------------------------------------------------------------
  double CosTable[129] = {};
  double NegSinTable[129] = {};
  double FftRe[128] = {};
  double FftIm[128] = {};
  uint8_t SpectrumTrace[TraceColumns][SpectrumBins] = {};
  int LevelTrace[TraceColumns] = {};
  int OffFlags[TraceColumns] = {};
  int LevelRing[LevelRingCapacity] = {};
  int RingIndex = 0;
  double PeakLevel = 768.0;
  double FloorLevel = 0.0;
  int Threshold = 384;
  int DisplayColumn = 0;

  // --- Minute-marker tracking ------------------------------------------------------------
  int MarkerFlags[TraceColumns] = {};
  int MarkerRunLength = 0;
  int BlocksSinceMarker = -1;       // blocks since the centre of the last marker run; -1 none

  // --- Decoded minutes ---------------------------------------------------------------------
  MinuteRecord MinuteRecords[MaxMinuteRecords];
  int MinuteRecordCount = 0;
  int MinuteRecordsStored = 0;      // entries RecordMinute stored since the list was emptied
  int SummerTimeFlag = 0;
  JjyMinuteInfo JjyInfo;            // JJY's other fields, with the last minute it recorded
  int LeapAnnounced = 0;            // a leap second the station announces for the end of this
                                    // month (UTC): 0 none, 1 inserted, 2 removed
  int LastMinuteOfDay = NoPreviousMinute;
  int64_t SyncOffset = 0;           // seconds, decoded minus PC

  // --- WWV/WWVH 100 Hz detector --------------------------------------------------------------
  double SyncPhase = 0.0;                 // radians
  double SyncSumsI[SyncWindowBlocks] = {};  // oldest first, newest at index 9
  double SyncSumsQ[SyncWindowBlocks] = {};

  // --- CHU's Bell 103 time code ----------------------------------------------------------------
  ChuFsk ChuDemod;                  // fed every block while CHU is the station
  ChuTime ChuLastTime;              // the last format A frame and where it ended
  double ChuLastEnd = 0.0;          // samples of ChuDemod
  int ChuLastValid = 0;
  double ChuAnchorEnd = -1.0;       // samples of ChuDemod: end of the last frame taken, -1 none
  int ChuAnchorSecond = 0;          // the second of the minute it was sent in
  int ChuStepMinute = NoPreviousMinute;  // minute of day of the last clock step from CHU
  ChuYear ChuYearInfo;              // the last format B frame
  int64_t ChuYearFrames = 0;        // format B frames taken since construction
  double ChuYearEnd = -1.0;         // samples of ChuDemod: where the last one ended, -1 none

  // --- Processing loop ---------------------------------------------------------------------
  int64_t BlocksProcessed = 0;      // blocks taken from the capture since construction,
                                    // counting the one being processed
  // The idle hook: framework idle work first (its result given as `framework_busy`), then a
  // buffer only when the idle count is above 10. Always returns true.
  bool OnIdle(long count, bool framework_busy = false);
  void ProcessCaptureBuffer();
  // The same for a document fed the very samples that `measured_by` has just processed as its
  // last buffer: in modes 0..5 the blocks' spectrum rows and levels, the same whatever the
  // station, are taken from it instead of being measured again (as when other stations'
  // decoders run beside the clock's on the same audio). Neither in WWV's mode has them.
  void ProcessCaptureBuffer(const CVarnolDoc* measured_by);

  // --- Capture (start, stop, snapshot, wave errors) --------------------------------------
  void StartCapture();
  void StopCapture();
  void ShowWaveError(const char* operation, MMRESULT code);
  void CloseWaveDevice();  // reset, unprepare the prepared headers, close
  static const char* WaveErrorReason(MMRESULT code);
  // Writes the 4142-byte snapshot; false when the file could not be written whole.
  bool WriteRecordingSnapshot(const char* path = RecordingFileName) const;
  // The same, telling why not; `error` receives the errno of a failure.
  SnapshotOutcome WriteSnapshotFile(const char* path, int& error) const;
  static constexpr const char* RecordingFileName = "recording.wav";
  // Where each stop of a capture writes the snapshot; empty: none is written. A FIFO or a
  // character device there (/dev/null) is written through, a socket or block device refused.
  std::string SnapshotPath = RecordingFileName;
  // Whether a snapshot into a FIFO that no program reads yet waits for a reader (a command-line
  // run, which a signal ends) or fails at once (the window, which must never hang at a stop).
  bool SnapshotWaitsForReader = false;
  // The recording being played as the input: a snapshot never replaces this file (compared by
  // device and inode, so another name for it is caught too). False when it cannot be seen.
  bool ProtectFromSnapshot(const std::string& path);
  SnapshotOutcome LastSnapshot = SnapshotOutcome::NotAsked;

  // --- Front end ---------------------------------------------------------------------------
  void LevelStep(const int16_t* block);     // spectrum measure, modes 0..5
  void RunSyncDetector(const int16_t* block);  // 100 Hz detector, mode 6
  void ResetSyncDetector();
  void DecisionStep();
  void Fft(int m, int n, int scaling_count, int scaling_flag);
  int OffScore(int second, int tenth) const;

  // --- Decoder frame and clock setting -----------------------------------------------------
  void DecodeBlock();           // the decoder of StationMode
  // Stores a decoded minute with the summer-time bit the reader has just set (SummerTimeFlag).
  void RecordMinute(const char* text, int hour, int minute);
  void EndMarkerRun();
  void SetPcClock();
  // Writes hour:minute:01 into the UTC system time, with the date nearest the clock's value;
  // reports the write and, when it succeeded, zeroes SyncOffset.
  // `second` and `milliseconds` (-1: as the clock reads) for a station that gives the second.
  void WriteSystemClock(int hour, int minute, int second = 1, int milliseconds = -1);
  // The per-block frame: marker flag and run counters, then the field reader on marker blocks,
  // or the end of the run and the clock step on the first block after it.
  template <typename ReadFields>
  void DecoderFrame(bool marker, ReadFields read_fields) {
    if (marker) {
      MarkerFlags[DisplayColumn] = 1;
      MarkerRunLength += 1;
      read_fields();
    } else {
      if (MarkerRunLength > 0) EndMarkerRun();
      MarkerFlags[DisplayColumn] = 0;
      if (MinuteRecordCount > 0) SetPcClock();
    }
  }

  // Station decoders, one per file under decoders/.
  void DecodeMsf();
  void DecodeHbg();
  void DecodeDcf77();
  void ReadCentralEuropeanCode();  // DCF77 and HBG fields, on a marker block
  void DecodeWwvb();
  void DecodeVng();
  void DetectRwmMark();
  void SnapToMinuteMark();
  void DecodeWwv();
  void DecodeJjy();
  bool JjyBit(int second) const;        // carrier reduced in the seventh tenth: a 1 (or a marker)
  bool JjyCallSignHeard() const;        // seconds 40..48 not keyed as pulses
  void DecodeChu();
  void ChuDemodulate(const int16_t* block);  // the demodulator's share of one block
  void TakeChuFrame(const ChuFrame& frame);

  // --- Status and notification -----------------------------------------------------------
  void SetStatusText(const char* text);
  void SetSyncOffset(int64_t seconds);
  void BuildUtOffsetLabel();
  void UpdateAllViews(int hint);
  void NotifyClockWrite(const SYSTEMTIME& written, bool ok);
  // `block`: where the minute's marker run would have ended (ThisBlock: this block). It may be
  // 0 or less: a minute named by a code sent later within it began before the capture did.
  static constexpr int64_t ThisBlock = INT64_MIN;
  void NotifyMinuteAccepted(int ut_hour, int ut_minute, int64_t block = ThisBlock);
  void AddObserver(DocObserver* observer);
  void RemoveObserver(DocObserver* observer);
  // Keeps persisted settings that arrive out of range from breaking the ring arithmetic or
  // the decoder choice: each one outside its range takes its default.
  void SanitizeSettings();

  // --- Commands and pane texts (menus, toolbar, status panes) ---------------------------------

  // A menu item, toolbar button or status pane being refreshed. Update handlers set its check
  // mark or its text; they never disable it.
  class CCmdUI {
   public:
    virtual ~CCmdUI() = default;
    virtual void SetCheck(int check) = 0;
    virtual void SetText(const char* text) = 0;
  };
  // What the setup commands show: the two dialogs (true when ended with OK, the values
  // edited in place), the mixer and the advice message.
  class SetupUi {
   public:
    virtual ~SetupUi() = default;
    virtual bool RunClockOffsetDialog(double& offset) = 0;  // hours
    virtual bool RunCalibrationDialog(int& blocks_per_minute, int& adjust_heuristically) = 0;
    virtual void StartMixer() = 0;  // does not wait for the mixer
    virtual void ShowInformation(const char* text) = 0;
  };
  static constexpr const char* MixerAdvice =
      "Select the audio source, adjust the volume, make sure it is not muted.  Ensure that the "
      "overall record level slider (leftmost) is at a suitable level and that Mute-all is not "
      "checked. If the source you require does not appear, in the Recording Control window, "
      "click on Options...Properties..Recording and check the input source that you require; "
      "then click on OK.";

  // Command routing: true when `id` is one of the document's commands (and it was run).
  // `ui` is needed by the setup commands only; without it they do nothing.
  bool OnCmdMsg(int id, SetupUi* ui);
  // Update routing: true when the document has an update handler for `id`.
  bool OnUpdateCmdUI(int id, CCmdUI& ui);

  void OnStation(int station_mode);  // the seven "Transmitter" commands
  void OnUpdateStation(int station_mode, CCmdUI& ui);
  void OnAutoSetClock();             // 32812
  void OnUpdateAutoSetClock(CCmdUI& ui);
  void OnStartMenu();                // 32787
  void OnStartTool();                // 32785
  void OnStopMenu();                 // 32779
  void OnStopTool();                 // 32792
  void OnUpdateStartMenu(CCmdUI& ui);
  void OnUpdateStartTool(CCmdUI& ui);
  void OnUpdateStopMenu(CCmdUI& ui);
  void OnUpdateStopTool(CCmdUI& ui);
  void OnClockOffset(SetupUi& ui);   // 32813
  void OnCalibration(SetupUi& ui);   // 32822
  void OnMixer(SetupUi& ui);         // 32815

  // Status panes, recomputed from the fields at every refresh.
  void OnUpdateStationPane(CCmdUI& ui);  // 59142
  void OnUpdatePcPane(CCmdUI& ui);       // 59143
  void OnUpdateSynPane(CCmdUI& ui);      // 59144
  void OnUpdateResetPane(CCmdUI& ui);    // 59145
  static const char* StationShortName(int station_mode);

  // --- end of commands and pane texts ------------------------------------------------------

  // Optional filter on the captured samples before the front end; none by default.
  CaptureFilter* InputFilter = nullptr;

  // Services.
  WaveInput& Wave;
  SystemClock& Clock;
  WaveErrorDialog& Errors;
  SettingsStore* Settings;

 private:
  static constexpr int MaxObservers = 8;
  DocObserver* observers_[MaxObservers] = {};
  bool destroying_ = false;
  bool protect_known_ = false;  // the played recording's identity, for the snapshot
  uint64_t protect_device_ = 0, protect_inode_ = 0;
};

// True when the station's decoder is implemented in this build.
bool StationSupported(int station_mode);
