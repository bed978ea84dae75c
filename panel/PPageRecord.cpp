#include "PPageRecord.h"

#include "EndpointControl.h"
#include "PageControls.h"
#include "PanelIds.h"
#include "PlayRecordIds.h"
#include "TarnACPLDlg.h"

#include <commctrl.h>

#include <cstring>

namespace {

// In the order of kPanelRates and kPanelDepths.
constexpr int kRateRadios[kPanelRateCount] = {IDC_REC_RATE384000, IDC_REC_RATE352800, IDC_REC_RATE192000,
                                              IDC_REC_RATE176400, IDC_REC_RATE96000,  IDC_REC_RATE88200,
                                              IDC_REC_RATE48000,  IDC_REC_RATE44100,  IDC_REC_RATE32000};
constexpr int kDepthRadios[kPanelDepthCount] = {IDC_REC_BITS32, IDC_REC_BITS24, IDC_REC_BITS16};

// Shown only while the line input is the record input: S/PDIF has no level.
constexpr int kLineInputControls[] = {IDC_REC_LABEL_LEFT, IDC_REC_LABEL_RIGHT, IDC_REC_LEVEL_LEFT,
                                      IDC_REC_LEVEL_RIGHT, IDC_REC_MUTE};

void ShowAndEnable(CDialog& page, int id, bool on) {
    page.ShowItem(id, on);
    EnableWindow(page.Item(id), on ? TRUE : FALSE);
}

}  // namespace

CPPageRecord::CPPageRecord(CTarnACPLDlg* parent) : CDialog(IDD_PAGE_RECORD), m_parent(parent) {
    for (int id : kRateRadios) OnCommandCode(static_cast<WORD>(id), &CPPageRecord::OnRadio);
    for (int id : kDepthRadios) OnCommandCode(static_cast<WORD>(id), &CPPageRecord::OnRadio);
    OnCommandCode(IDC_REC_INPUT, &CPPageRecord::OnInputChange);
    OnCommandCode(IDC_REC_MUTE, &CPPageRecord::OnMute);
}

CPPageRecord::~CPPageRecord() { Destroy(); }

EndpointControl* CPPageRecord::Endpoints() const { return m_parent ? m_parent->Endpoints() : nullptr; }

BOOL CPPageRecord::OnInitDialog() {
    FillInputs();
    UINT selected = 0;
    EndpointControl* endpoints = Endpoints();
    if (!endpoints || FAILED(endpoints->GetSelectedInput(&selected))) selected = 0;
    m_currentInput = static_cast<int32_t>(selected);
    SendItem(IDC_REC_INPUT, CB_SETCURSEL, m_currentInput);
    ShowLineInputControls();
    RefreshFromInput(0);
    ShowSupportedRadios();
    ResetLevelTrackbars(*this, IDC_REC_LEVEL_LEFT, IDC_REC_LEVEL_RIGHT);
    RefreshVolume();
    RefreshMute();
    return TRUE;
}

// Position i of the input list shows input i.
void CPPageRecord::FillInputs() {
    SendItem(IDC_REC_INPUT, CB_RESETCONTENT);
    EndpointControl* endpoints = Endpoints();
    UINT count = endpoints ? endpoints->CaptureCount() : 0;
    if (count > kMaxRecordInputs) count = kMaxRecordInputs;
    m_inputCount = static_cast<int32_t>(count);
    if (m_parent) m_parent->SetRecordInputCount(m_inputCount);
    // A name too long for the code page's 260 bytes repeats the one before.
    char name[kInputNameBytes] = {};
    for (int i = m_inputCount - 1; i >= 0; --i) {
        const EndpointRecord* record = endpoints->CaptureEndpoint(static_cast<UINT>(i));
        ConvertInputName(record->friendlyName, name);
        m_connectors[i] = record->connectorSubtype;
        SendItem(IDC_REC_INPUT, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
}

bool CPPageRecord::CurrentIsLine() const {
    return m_currentInput >= 0 && m_currentInput < m_inputCount && IsLineConnector(m_connectors[m_currentInput]);
}

void CPPageRecord::ShowLineInputControls() {
    bool line = CurrentIsLine();
    for (int id : kLineInputControls) ShowItem(id, line);
}

void CPPageRecord::ShowSupportedRadios() {
    KsFormatMasks masks = m_parent ? m_parent->FormatMasks() : KsFormatMasks();
    for (int i = 0; i < kPanelRateCount; ++i) ShowAndEnable(*this, kRateRadios[i], (masks.recRates & (1u << i)) != 0);
    for (int i = 0; i < kPanelDepthCount; ++i) {
        ShowAndEnable(*this, kDepthRadios[i], (masks.recDepths & (1u << i)) != 0);
    }
}

void CPPageRecord::RefreshFromInput(UINT input) {
    if (!Endpoints()) return;
    DWORD rate = 0;
    WORD bits = 0;
    // A format that could not be read or that no radio shows is left on the
    // inputs: applying the radios would rewrite it to another one.
    if (FAILED(m_parent->GetRecordFormat(input, &rate, &bits))) return;
    bool rateShown = CheckRateRadio(*this, kRateRadios, rate);
    bool depthShown = CheckDepthRadio(*this, kDepthRadios, bits);
    if (rateShown && depthShown) ApplyRadios();
}

// Every record input carries the same format.
void CPPageRecord::ApplyRadios() {
    if (!Endpoints()) return;
    DWORD rate = CheckedRate(*this, kRateRadios);
    WORD bits = CheckedBits(*this, kDepthRadios);
    for (int j = 0; j < m_inputCount; ++j) m_parent->SetRecordFormat(static_cast<UINT>(j), rate, bits);
}

void CPPageRecord::OnRadio(WORD code) {
    if (code == BN_CLICKED) ApplyRadios();
}

void CPPageRecord::OnInputChange(WORD code) {
    if (code != CBN_SELCHANGE || !Endpoints()) return;
    LRESULT selected = SendItem(IDC_REC_INPUT, CB_GETCURSEL);
    if (selected >= 0 && SUCCEEDED(m_parent->SelectRecordInput(static_cast<UINT>(selected)))) {
        m_currentInput = static_cast<int32_t>(selected);
    } else {
        SendItem(IDC_REC_INPUT, CB_SETCURSEL, m_currentInput);
    }
    ShowLineInputControls();
    RefreshVolume();
    RefreshMute();
}

void CPPageRecord::ReselectCurrentInput() {
    EndpointControl* endpoints = Endpoints();
    if (!endpoints) return;
    UINT selected = 0;
    if (SUCCEEDED(endpoints->GetSelectedInput(&selected))) m_currentInput = static_cast<int32_t>(selected);
    SendItem(IDC_REC_INPUT, CB_SETCURSEL, m_currentInput);
    ShowLineInputControls();
}

void CPPageRecord::RefreshVolume() {
    if (!Endpoints()) return;
    if (FAILED(m_parent->GetRecordVolume(static_cast<UINT>(m_currentInput), &m_left, &m_right, &m_minimum,
                                         &m_maximum, &m_step))) {
        return;
    }
    m_leftMinimum = m_minimum;
    m_leftMaximum = m_maximum;
    Endpoints()->GetCaptureLevelRange(static_cast<UINT>(m_currentInput), 0, &m_leftMinimum, &m_leftMaximum);
    SetLevelPositions(*this, IDC_REC_LEVEL_LEFT, IDC_REC_LEVEL_RIGHT, m_left, m_right, m_leftMinimum, m_leftMaximum,
                      m_minimum, m_maximum);
}

void CPPageRecord::OnLevelScroll(HWND trackbar) {
    if (!Endpoints()) return;
    int id = GetDlgCtrlID(trackbar);
    if (id != IDC_REC_LEVEL_LEFT && id != IDC_REC_LEVEL_RIGHT) return;
    int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
    if (id == IDC_REC_LEVEL_LEFT) {
        m_left = PositionToLevel(position, m_leftMinimum, m_leftMaximum);
    } else {
        m_right = PositionToLevel(position, m_minimum, m_maximum);
    }
    m_parent->SetRecordVolume(static_cast<UINT>(m_currentInput), m_left, m_right);
}

// The scroll goes on to the default handling after the level is set.
bool CPPageRecord::OnOtherMessage(UINT message, WPARAM, LPARAM lParam, LRESULT*) {
    if (message == WM_VSCROLL && lParam) OnLevelScroll(reinterpret_cast<HWND>(lParam));
    return false;
}

void CPPageRecord::OnMute(WORD code) {
    if (code != BN_CLICKED || !Endpoints()) return;
    m_parent->SetRecordMute(static_cast<UINT>(m_currentInput), IsChecked(IDC_REC_MUTE) ? TRUE : FALSE);
}

void CPPageRecord::RefreshMute() {
    if (!Endpoints()) return;
    BOOL mute = FALSE;
    if (SUCCEEDED(m_parent->GetRecordMute(static_cast<UINT>(m_currentInput), &mute))) {
        SetCheck(IDC_REC_MUTE, mute != FALSE);
    }
}

HRESULT CPPageRecord::GetSupportedFormats(RecordFormatList* list) const {
    if (!list) return E_POINTER;
    std::memset(list, 0, sizeof(*list));
    FillEnabledFormats(*this, kRateRadios, kDepthRadios, list->words);
    bool isLine[kMaxRecordInputs] = {};
    for (int i = 0; i < m_inputCount; ++i) isLine[i] = IsLineConnector(m_connectors[i]);
    FillInputNames(isLine, m_inputCount, list);
    return S_OK;
}
