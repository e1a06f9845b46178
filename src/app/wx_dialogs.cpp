// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialogs, the About box and the program's message boxes. Each dialog is laid out as
// its template gives it, in dialog units, so it scales with the desktop's font.
#include <wx/wx.h>
#include <wx/artprov.h>
#include <wx/dcmemory.h>
#include <wx/display.h>
#include <wx/statbmp.h>

#include <algorithm>
#include <functional>

#include "app/setup_dialogs.h"
#include "app/wx_varnol.h"

wxRect DialogRect(wxWindow* dialog, int x, int y, int width, int height, double scale) {
  const wxPoint p = dialog->ConvertDialogToPixels(wxPoint(x, y));
  const wxSize s = dialog->ConvertDialogToPixels(wxSize(width, height));
  return wxRect(static_cast<int>(p.x * scale), p.y, static_cast<int>(s.x * scale), s.y);
}

double TemplateScale(wxWindow* dialog, std::initializer_list<TemplateText> texts) {
  double scale = 1.0;
  for (const TemplateText& t : texts) {
    const double room = dialog->ConvertDialogToPixels(wxSize(t.width, 0)).x;
    const double needed = dialog->GetTextExtent(t.text).x + t.extra + 2;
    if (room > 0 && needed / room > scale) scale = needed / room;
  }
  return scale;
}

wxString WrapText(const wxString& text, int width, const std::function<int(const wxString&)>& extent) {
  wxString out;
  wxString line;
  auto flush = [&] {
    out += line;
    out += '\n';
    line.clear();
  };
  // Pieces of a paragraph: a word with the blanks after it. A break keeps the blanks at the
  // end of the line, so that taking the line breaks out gives back the text as it was.
  size_t i = 0;
  while (i < text.length()) {
    if (text[i] == '\n') {
      flush();
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.length() && text[end] != ' ' && text[end] != '\n') ++end;
    const wxString word = text.Mid(i, end - i);
    size_t after = end;
    while (after < text.length() && text[after] == ' ') ++after;
    const wxString blanks = text.Mid(end, after - end);
    if (!line.empty() && extent(line + word) > width) flush();
    if (line.empty() && extent(word) > width) {
      // A word wider than a line (a long file name) is broken where the line is full.
      for (const wxUniChar c : word) {
        if (!line.empty() && extent(line + c) > width) flush();
        line += c;
      }
    } else {
      line += word;
    }
    line += blanks;
    i = after;
  }
  out += line;
  return out;
}

namespace {

// A message box whose text is wrapped to a readable width: no message is ever cut off at the
// edge of the box or of the screen.
class CMessageBox : public wxDialog {
 public:
  CMessageBox(wxWindow* parent, const wxString& text, long style)
      : wxDialog(parent, wxID_ANY, ProgramName) {
    const wxArtID art = (style & wxICON_ERROR) != 0         ? wxART_ERROR
                        : (style & wxICON_EXCLAMATION) != 0 ? wxART_WARNING
                        : (style & wxICON_QUESTION) != 0    ? wxART_QUESTION
                                                            : wxART_INFORMATION;
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(art, wxART_MESSAGE_BOX)),
             0, wxALL, 10);
    // About sixty characters a line, and never wider than most of the screen.
    const int char_width = GetCharWidth();
    int width = 60 * char_width;
    const wxRect screen = wxGetClientDisplayRect();
    if (screen.width > 0) width = std::min(width, screen.width * 3 / 4 - 80);
    width = std::max(width, 20 * char_width);
    const wxString wrapped =
        WrapText(text, width, [this](const wxString& piece) { return GetTextExtent(piece).x; });
    row->Add(new wxStaticText(this, wxID_ANY, wxControl::EscapeMnemonics(wrapped)), 1,
             wxTOP | wxBOTTOM | wxRIGHT, 10);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(row, 1, wxEXPAND);
    if (wxSizer* buttons = CreateSeparatedButtonSizer(style & (wxOK | wxCANCEL | wxYES_NO)))
      column->Add(buttons, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(column);
    CentreOnParent();
  }
};

}  // namespace

int ShowMessage(wxWindow* parent, const wxString& text, long style) {
  CMessageBox box(parent, text, style);
  return box.ShowModal();
}

namespace {

wxStaticText* Label(wxDialog* d, double scale, const char* text, int x, int y, int w, int h,
                    int id = wxID_ANY) {
  const wxRect r = DialogRect(d, x, y, w, h, scale);
  return new wxStaticText(d, id, text, r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
}

wxButton* Button(wxDialog* d, double scale, int id, const char* text, int x, int y, int w, int h) {
  const wxRect r = DialogRect(d, x, y, w, h, scale);
  return new wxButton(d, id, text, r.GetPosition(), r.GetSize());
}

wxTextCtrl* Edit(wxDialog* d, double scale, int id, int x, int y, int w, int h) {
  const wxRect r = DialogRect(d, x, y, w, h, scale);
  return new wxTextCtrl(d, id, "", r.GetPosition(), r.GetSize());
}

// Refuses an entry as the dialog framework does: the message, then the edit selected again.
void Refuse(wxDialog* d, wxTextCtrl* edit, const char* message) {
  ShowMessage(d, message, wxOK | wxICON_EXCLAMATION);
  edit->SetFocus();
  edit->SelectAll();
}

}  // namespace

// --- PC clock offset ---------------------------------------------------------------------------

CClockOffsetDlg::CClockOffsetDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "PC clock offset") {
  scale_ = TemplateScale(this, {{"PC clock offset from UT", 76}, {"hours", 18}});
  SetClientSize(DialogRect(this, 0, 0, 186, 53, scale_).GetSize());
  Label(this, scale_, "PC clock offset from UT", 21, 15, 76, 8);
  edit_ = Edit(this, scale_, IdOffsetEdit, 101, 11, 40, 14);
  Label(this, scale_, "hours", 147, 15, 18, 8);
  Button(this, scale_, wxID_CANCEL, "Cancel", 7, 32, 50, 14);
  Button(this, scale_, wxID_OK, "OK", 129, 32, 50, 14)->SetDefault();
  Bind(wxEVT_BUTTON, &CClockOffsetDlg::OnOk, this, wxID_OK);
  edit_->SetFocus();
}

bool CClockOffsetDlg::TransferDataToWindow() {
  edit_->ChangeValue(FormatOffsetEdit(Offset));
  edit_->SelectAll();
  return true;
}

void CClockOffsetDlg::OnOk(wxCommandEvent&) {
  const OffsetField f = CheckOffsetEdit(edit_->GetValue().ToStdString());
  if (f.check != FieldCheck::Accepted) {
    Refuse(this, edit_, OffsetRefusal(f.check));
    return;
  }
  Offset = f.hours;
  EndModal(wxID_OK);
}

// --- Soundcard calibration ------------------------------------------------------------------------

namespace {
std::function<std::optional<int>()>& CardRateMeasure() {
  static std::function<std::optional<int>()> measure;
  return measure;
}
}  // namespace

void SetCardRateMeasure(std::function<std::optional<int>()> measure) { CardRateMeasure() = std::move(measure); }

CCalibrationDlg::CCalibrationDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Calibrate soundcard") {
  scale_ = TemplateScale(this, {{"Soundcard calibration (nominal 3756)", 118},
                                {"Adjust heuristically", 73, 24}});
  SetClientSize(DialogRect(this, 0, 0, 186, 73, scale_).GetSize());
  Label(this, scale_, "Soundcard calibration (nominal 3756)", 11, 9, 118, 8);
  edit_ = Edit(this, scale_, IdBlocksEdit, 139, 6, 40, 14);
  Button(this, scale_, IdDefault, "Default", 129, 28, 50, 14);
  // The check box gets at least the size the theme draws it in (centred on its place in the
  // template): a smaller one makes GTK complain and clips the box.
  wxRect r = DialogRect(this, 13, 31, 73, 10, scale_);
  adjust_ = new wxCheckBox(this, IdAdjust, "Adjust heuristically", r.GetPosition());
  const wxSize best = adjust_->GetBestSize();
  if (best.y > r.height) {
    r.y -= (best.y - r.height) / 2;
    r.height = best.y;
  }
  r.width = std::max(r.width, best.x);
  adjust_->SetSize(r);
  Button(this, scale_, wxID_CANCEL, "Cancel", 7, 52, 50, 14);
  Button(this, scale_, wxID_OK, "OK", 129, 52, 50, 14)->SetDefault();
  // Beyond the template: the sound card's rate as measured while capturing.
  measure_ = Button(this, scale_, IdMeasure, "Measure", 68, 52, 50, 14);
  Bind(wxEVT_BUTTON, &CCalibrationDlg::OnOk, this, wxID_OK);
  Bind(wxEVT_BUTTON, &CCalibrationDlg::OnDefault, this, IdDefault);
  Bind(wxEVT_BUTTON, &CCalibrationDlg::OnMeasure, this, IdMeasure);
  edit_->SetFocus();
}

bool CCalibrationDlg::TransferDataToWindow() {
  measure_->Enable(static_cast<bool>(Measure));
  adjust_->SetValue(AdjustHeuristically != 0);
  edit_->ChangeValue(FormatCalibrationEdit(BlocksPerMinuteValue));
  // Selected, as in the offset dialog: typing replaces the value.
  edit_->SelectAll();
  return true;
}

void CCalibrationDlg::OnDefault(wxCommandEvent&) {
  // Every member goes back into the controls, so the check box shows its state as of the
  // dialog's opening (or the last OK) again.
  BlocksPerMinuteValue = NominalBlocksPerMinute;
  TransferDataToWindow();
}

void CCalibrationDlg::OnMeasure(wxCommandEvent&) {
  const std::optional<int> measured = Measure ? Measure() : std::nullopt;
  if (!measured) {
    ShowMessage(this,
                "The sound card's rate is not measured yet: it needs about half a minute of capture "
                "with steady timestamps.",
                wxOK | wxICON_INFORMATION);
    return;
  }
  edit_->ChangeValue(FormatCalibrationEdit(*measured));
  edit_->SetFocus();
  edit_->SelectAll();
}

void CCalibrationDlg::OnOk(wxCommandEvent&) {
  // The check box is taken first, then the number is checked.
  AdjustHeuristically = adjust_->GetValue() ? 1 : 0;
  const CalibrationField f = CheckCalibrationEdit(edit_->GetValue().ToStdString());
  if (f.check != FieldCheck::Accepted) {
    Refuse(this, edit_, CalibrationRefusal(f.check));
    return;
  }
  BlocksPerMinuteValue = f.blocks_per_minute;
  EndModal(wxID_OK);
}

// --- About box and icon ----------------------------------------------------------------------------

wxIcon ProgramIcon(int size) {
  wxBitmap bitmap(size, size, 32);
  {
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(192, 192, 192)));
    dc.Clear();
    const int c = size / 2;
    const int r = size / 2 - 1;
    dc.SetPen(wxPen(wxColour(0, 0, 127), std::max(1, size / 16)));
    dc.SetBrush(wxBrush(wxColour(255, 255, 255)));
    dc.DrawCircle(c, c, r);
    dc.SetPen(wxPen(wxColour(0, 0, 0), std::max(1, size / 12)));
    dc.DrawLine(c, c, c, c - r * 3 / 4);      // minute hand at twelve
    dc.DrawLine(c, c, c + r / 2, c);          // hour hand at three
    dc.SetPen(wxPen(wxColour(255, 0, 0), 1));
    dc.DrawLine(c, c, c - r / 2, c + r / 2);  // second hand
    dc.SelectObject(wxNullBitmap);
  }
  bitmap.SetMask(new wxMask(bitmap, wxColour(192, 192, 192)));  // round, not square
  wxIcon icon;
  icon.CopyFromBitmap(bitmap);
  return icon;
}

CAboutDlg::CAboutDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "About Marvesta") {
  // The build's one version, which --version and the package report as well.
  const char* const line = "Marvesta Version " VARNOL_VERSION;
  const double scale = TemplateScale(this, {{line, 119}});
  SetClientSize(DialogRect(this, 0, 0, 217, 55, scale).GetSize());
  const wxRect icon_rect = DialogRect(this, 11, 17, 20, 20, scale);
  new wxStaticBitmap(this, wxID_ANY, ProgramIcon(32), icon_rect.GetPosition(), wxSize(32, 32));
  Label(this, scale, line, 40, 10, 119, 8);
  Button(this, scale, wxID_OK, "OK", 178, 7, 32, 14)->SetDefault();
}

void CMainFrame::ShowAbout() {
  CAboutDlg about(this);
  about.ShowModal();
}

bool CMainFrame::RunClockOffsetDialog(double& offset) {
  CClockOffsetDlg dlg(this);
  dlg.Offset = offset;
  if (dlg.ShowModal() != wxID_OK) return false;
  offset = dlg.Offset;
  return true;
}

bool CMainFrame::RunCalibrationDialog(int& blocks_per_minute, int& adjust_heuristically) {
  CCalibrationDlg dlg(this);
  dlg.Measure = CardRateMeasure();
  dlg.BlocksPerMinuteValue = blocks_per_minute;
  dlg.AdjustHeuristically = adjust_heuristically;
  if (dlg.ShowModal() != wxID_OK) return false;
  blocks_per_minute = dlg.BlocksPerMinuteValue;
  adjust_heuristically = dlg.AdjustHeuristically;
  return true;
}
