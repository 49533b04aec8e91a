#include "platform/win32/main_window.h"

#include <string>

#include "platform/win32/text.h"

namespace {

const wchar_t kClassName[] = L"AgesweepMainWindow";
const DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                     WS_CLIPCHILDREN;  // fixed single border: no sizing frame
const DWORD kExStyle = 0;
constexpr size_t kCmdOk = 0;
constexpr size_t kHelpBox = 1;
constexpr size_t kList1 = 7;

// Keyboard focus order: the help box, Close, then the other boxes as they
// stand in kControls. The window system tabs in stacking order, so the
// controls are stacked in this order too; the help box then covers the five
// small boxes and the list, and the label lies below everything.
constexpr size_t kStackingOrder[9] = {1, 0, 2, 3, 4, 5, 6, 7, 8};

const std::string* TextOf(const WindowModel& model, const char* name) {
  const std::string name_text = name;
  if (name_text == "Text1") return &model.Text1;
  if (name_text == "Text2") return &model.Text2;
  if (name_text == "Text3") return &model.Text3;
  if (name_text == "Text4") return &model.Text4;
  if (name_text == "Text5") return &model.Text5;
  return nullptr;
}

}  // namespace

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

int MainWindow::Pixels(int twips) const { return MulDiv(twips, dpi_, 1440); }

bool MainWindow::Create(HINSTANCE instance) {
  if (HDC screen = GetDC(nullptr)) {
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1),
                                           IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  wc.hIconSm = static_cast<HICON>(LoadImageW(
      instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
      GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;

  RECT frame = {0, 0, Pixels(kClientWidthTwips), Pixels(kClientHeightTwips)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  hwnd_ = CreateWindowExW(kExStyle, kClassName, ToWide(kCaption).c_str(),
                          kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                          frame.right - frame.left, frame.bottom - frame.top,
                          nullptr, nullptr, instance, this);
  if (!hwnd_) return false;

  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const WindowModel initial;
  for (size_t i = 0; i < 9; ++i) {
    const ControlLayout& c = kControls[i];
    const wchar_t* window_class = L"EDIT";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD ex_style = 0;
    std::wstring text;
    switch (c.kind) {
      case ControlKind::kButton:
        window_class = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        text = ToWide(kCloseCaption);
        break;
      case ControlKind::kTextBox:
        ex_style = WS_EX_CLIENTEDGE;
        if (i == kHelpBox) {
          // Multi-line and wrapping, without scroll bars; disabled, so it
          // takes no focus and cannot be edited, selected or scrolled.
          style |= ES_MULTILINE | ES_LEFT | WS_DISABLED;
          text = ToWide(kHelpText);
        } else {
          style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
          text = ToWide(*TextOf(initial, c.name));
        }
        break;
      case ControlKind::kListBox:
        window_class = L"LISTBOX";
        ex_style = WS_EX_CLIENTEDGE;
        // Unsorted, single selection; tab stops show the TABs of a results
        // line as columns while the line's text keeps them.
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT |
                 LBS_USETABSTOPS;
        break;
      case ControlKind::kLabel:
        window_class = L"STATIC";
        style |= SS_LEFT | SS_NOPREFIX;
        text = ToWide(kLabel2Text);
        break;
    }
    controls_[i] = CreateWindowExW(
        ex_style, window_class, text.c_str(), style, Pixels(c.left),
        Pixels(c.top), Pixels(c.width), Pixels(c.height), hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)),
        instance, nullptr);
    if (!controls_[i]) return false;
    SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font),
                 FALSE);
  }
  HWND above = HWND_TOP;
  for (size_t index : kStackingOrder) {
    SetWindowPos(controls_[index], above, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = controls_[index];
  }
  focus_ = controls_[kCmdOk];
  return true;
}

void MainWindow::Update(const WindowModel& model) {
  if (!hwnd_) return;
  if (model.outer_height_twips > 0) {
    RECT r;
    GetWindowRect(hwnd_, &r);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left,
                 Pixels(model.outer_height_twips),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (size_t i = 0; i < 9; ++i)
    if (const std::string* text = TextOf(model, kControls[i].name))
      SetWindowTextW(controls_[i], ToWide(*text).c_str());

  const HWND list = controls_[kList1];
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  SendMessageW(list, LB_INITSTORAGE, model.List1.size(),
               static_cast<LPARAM>(model.List1.text_bytes() * sizeof(wchar_t)));
  for (size_t i = 0; i < model.List1.size(); ++i)
    SendMessageW(list, LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(ToWide(model.List1[i]).c_str()));
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::ShowWindow(list, model.List1.visible ? SW_SHOWNA : SW_HIDE);
}

int MainWindow::Display() {
  if (!hwnd_) return 0;
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetForegroundWindow(hwnd_);
  SetFocus(controls_[kCmdOk]);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // The dialog manager gives the window Tab, Space on the focused button
    // and Alt+C for "&Close".
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                        LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self =
      reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self || !self->hwnd_) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // cmdok_Click: the Close button ends the program.
      if (LOWORD(wparam) == kFirstControlId + kCmdOk &&
          HIWORD(wparam) == BN_CLICKED) {
        DestroyWindow(hwnd_);
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focused = GetFocus();
        if (focused && IsChild(hwnd_, focused)) focus_ = focused;
      }
      break;
    case WM_SETFOCUS:
      if (focus_) SetFocus(focus_);
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}
