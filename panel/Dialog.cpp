#include "Dialog.h"

namespace {

HINSTANCE g_resourceModule = nullptr;

// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

}  // namespace

CDialog::CDialog(UINT templateId) : m_templateId(templateId) {}

CDialog::~CDialog() {
    // The derived part is gone: its handlers must not run for the last messages.
    m_commands.clear();
    m_messages.clear();
    m_notifies.clear();
    Destroy();
}

void CDialog::SetResourceModule(HINSTANCE module) { g_resourceModule = module; }

HINSTANCE CDialog::ResourceModule() { return g_resourceModule ? g_resourceModule : GetModuleHandleA(nullptr); }

INT_PTR CDialog::DoModal(HWND parent) {
    if (m_hwnd) return -1;
    m_modal = true;
    INT_PTR result = DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    m_modal = false;
    return result;
}

bool CDialog::Create(HWND parent) {
    if (m_hwnd) return true;
    m_modal = false;
    CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                       reinterpret_cast<LPARAM>(this));
    return m_hwnd != nullptr;
}

void CDialog::EndDialog(INT_PTR result) {
    if (!m_hwnd) return;
    if (m_modal) {
        ::EndDialog(m_hwnd, result);
    } else {
        Destroy();
    }
}

void CDialog::Destroy() {
    if (m_hwnd) DestroyWindow(m_hwnd);  // WM_NCDESTROY clears m_hwnd
    m_hwnd = nullptr;
}

HWND CDialog::Item(int id) const { return m_hwnd ? GetDlgItem(m_hwnd, id) : nullptr; }

void CDialog::SetItemText(int id, const char* text) {
    if (HWND item = Item(id)) SetWindowTextA(item, text);
}

std::string CDialog::ItemText(int id) const {
    HWND item = Item(id);
    if (!item) return std::string();
    int length = GetWindowTextLengthA(item);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(item, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void CDialog::ShowItem(int id, bool show) {
    if (HWND item = Item(id)) ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

bool CDialog::IsItemVisible(int id) const {
    HWND item = Item(id);
    return item && (GetWindowLongA(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

void CDialog::SetCheck(int id, bool checked) { SendItem(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED); }

bool CDialog::IsChecked(int id) const { return SendItem(id, BM_GETCHECK) == BST_CHECKED; }

LRESULT CDialog::SendItem(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
    HWND item = Item(id);
    return item ? SendMessageA(item, message, wParam, lParam) : 0;
}

void CDialog::OnOK() {
    if (m_modal) EndDialog(IDOK);
}

void CDialog::OnCancel() {
    if (m_modal) EndDialog(IDCANCEL);
}

bool CDialog::OnOtherMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

bool CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    auto handler = m_messages.find(message);
    if (handler != m_messages.end()) {
        *result = handler->second(wParam, lParam);
        return true;
    }
    switch (message) {
    case WM_COMMAND: {
        WORD id = LOWORD(wParam);
        auto command = m_commands.find(id);
        if (command != m_commands.end()) {
            command->second(HIWORD(wParam));
            return true;
        }
        if (id == IDOK) {  // Enter or the default button
            OnOK();
            return true;
        }
        if (id == IDCANCEL) {
            OnCancel();
            return true;
        }
        break;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (!header) break;
        auto notify = m_notifies.find({header->idFrom, header->code});
        if (notify != m_notifies.end()) {
            *result = notify->second(header);
            return true;
        }
        break;
    }
    case WM_DESTROY:
        OnDestroy();
        return true;
    default:
        break;
    }
    return OnOtherMessage(message, wParam, lParam, result);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hwnd = nullptr;
        return FALSE;
    }
    LRESULT result = 0;
    if (!self->Dispatch(message, wParam, lParam, &result)) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}
