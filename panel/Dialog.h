// The panel's dialog framework: a window built from a dialog template, run
// modally or created as a (child or top-level) modeless window, whose
// messages reach member functions of the derived class.
//
//   class CMyPage : public CDialog {
//   public:
//       CMyPage() : CDialog(IDD_MY_PAGE) {
//           OnCommandId(IDC_RESET, &CMyPage::OnReset);
//           OnMessageId(WM_TIMER, &CMyPage::OnTimer);
//       }
//   protected:
//       BOOL OnInitDialog() override;
//   private:
//       void OnReset();
//       LRESULT OnTimer(WPARAM, LPARAM);
//   };
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

class CDialog {
public:
    explicit CDialog(UINT templateId);
    // Destroys the window if it still exists. A derived class whose
    // OnDestroy matters calls Destroy() in its own destructor.
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Module that holds the templates (default: the program's own module).
    static void SetResourceModule(HINSTANCE module);
    static HINSTANCE ResourceModule();

    // Runs the dialog modally; the value given to EndDialog, or -1 when the
    // window could not be created.
    INT_PTR DoModal(HWND parent = nullptr);
    // Creates the dialog modeless (a child when the template says WS_CHILD).
    // True when the window exists.
    bool Create(HWND parent);
    // Ends a modal dialog with result; destroys a modeless one.
    void EndDialog(INT_PTR result);
    void Destroy();

    HWND Hwnd() const { return m_hwnd; }
    UINT TemplateId() const { return m_templateId; }
    bool IsModal() const { return m_modal; }

    // Control helpers; each does nothing without the window or the control.
    HWND Item(int id) const;
    void SetItemText(int id, const char* text);
    std::string ItemText(int id) const;
    void ShowItem(int id, bool show);
    bool IsItemVisible(int id) const;
    void SetCheck(int id, bool checked);
    bool IsChecked(int id) const;
    LRESULT SendItem(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

protected:
    // WM_INITDIALOG; return TRUE to let the system place the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // IDOK (Enter, default button) and IDCANCEL (Escape, close request) when
    // no handler is registered for them: a modal dialog ends, a modeless one
    // is left alone.
    virtual void OnOK();
    virtual void OnCancel();
    // WM_DESTROY, before the window goes away (controls still exist).
    virtual void OnDestroy() {}
    // Any message no registered handler took; return true when handled and
    // put the message's result in *result.
    virtual bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Registration of member handlers, usually in the derived constructor.
    template <class T>
    void OnCommandId(WORD id, void (T::*handler)()) {
        m_commands[id] = [this, handler](WORD) { (static_cast<T*>(this)->*handler)(); };
    }
    // With the notification code (BN_CLICKED, CBN_SELCHANGE, ...).
    template <class T>
    void OnCommandCode(WORD id, void (T::*handler)(WORD code)) {
        m_commands[id] = [this, handler](WORD code) { (static_cast<T*>(this)->*handler)(code); };
    }
    template <class T>
    void OnMessageId(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
        m_messages[message] = [this, handler](WPARAM w, LPARAM l) { return (static_cast<T*>(this)->*handler)(w, l); };
    }
    template <class T>
    void OnNotifyCode(UINT_PTR fromId, UINT code, LRESULT (T::*handler)(NMHDR*)) {
        m_notifies[{fromId, code}] = [this, handler](NMHDR* header) {
            return (static_cast<T*>(this)->*handler)(header);
        };
    }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    UINT m_templateId;
    HWND m_hwnd = nullptr;
    bool m_modal = false;
    std::map<WORD, std::function<void(WORD)>> m_commands;
    std::map<UINT, std::function<LRESULT(WPARAM, LPARAM)>> m_messages;
    std::map<std::pair<UINT_PTR, UINT>, std::function<LRESULT(NMHDR*)>> m_notifies;
};
