#include "platform/win32/main_window.h"

#include <string>

#include "platform/win32/resource.h"
#include "platform/win32/text.h"

namespace {

const wchar_t kClassName[] = L"AgesweepMainWindow";
const DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                     WS_CLIPCHILDREN;  // fixed single border: no sizing frame
const DWORD kExStyle = 0;
// Keyboard focus order: the help box, Close, then the other boxes as they
// stand in kControls. The window system tabs in stacking order, so the
// controls are stacked in this order too; the help box then covers the five
// small boxes and the list, and the label lies below everything.
constexpr Control kStackingOrder[] = {kText,  kCmdok, kText2, kText3, kText1,
                                      kText4, kText5, kList1, kLabel2};
static_assert(std::size(kStackingOrder) == std::size(kControls));

// The window class, style and text of one control.
struct ControlStyle {
  const wchar_t* window_class = L"EDIT";
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  DWORD ex_style = 0;
  std::wstring text;
};

ControlStyle StyleOf(Control which) {
  ControlStyle c;
  switch (kControls[which].kind) {
    case ControlKind::kButton:
      c.window_class = L"BUTTON";
      c.style |= WS_TABSTOP | BS_PUSHBUTTON;
      c.text = ToWide(kCloseCaption);
      break;
    case ControlKind::kTextBox:
      c.ex_style = WS_EX_CLIENTEDGE;
      if (which == kText) {
        // Multi-line and wrapping, without scroll bars; disabled, so it
        // takes no focus and cannot be edited, selected or scrolled.
        c.style |= ES_MULTILINE | ES_LEFT | WS_DISABLED;
        c.text = ToWide(kHelpText);
      } else {
        c.style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
        c.text = ToWide(*SingleLineText(WindowModel(), which));
      }
      break;
    case ControlKind::kListBox:
      c.window_class = L"LISTBOX";
      c.ex_style = WS_EX_CLIENTEDGE;
      // Unsorted, single selection; tab stops show the TABs of a results
      // line as columns while the line's text keeps them.
      c.style |= WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT |
                 LBS_USETABSTOPS;
      break;
    case ControlKind::kLabel:
      c.window_class = L"STATIC";
      c.style |= SS_LEFT | SS_NOPREFIX;
      c.text = ToWide(kLabel2Text);
      break;
  }
  return c;
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
  if (!CreateFrame(instance)) return false;
  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (size_t i = 0; i < std::size(kControls); ++i) {
    controls_[i] = CreateControl(instance, static_cast<Control>(i));
    if (!controls_[i]) return false;
    SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font),
                 FALSE);
  }
  StackControls();
  focus_ = controls_[kCmdok];
  return true;
}

// The top-level window, hidden, with its class, icon and fixed border.
bool MainWindow::CreateFrame(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance,
                                           MAKEINTRESOURCEW(IDI_AGESWEEP),
                                           IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  wc.hIconSm = static_cast<HICON>(LoadImageW(
      instance, MAKEINTRESOURCEW(IDI_AGESWEEP), IMAGE_ICON,
      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
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
  return hwnd_ != nullptr;
}

HWND MainWindow::CreateControl(HINSTANCE instance, Control which) {
  const ControlLayout& layout = kControls[which];
  const ControlStyle c = StyleOf(which);
  return CreateWindowExW(
      c.ex_style, c.window_class, c.text.c_str(), c.style,
      Pixels(layout.left), Pixels(layout.top), Pixels(layout.width),
      Pixels(layout.height), hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + which)),
      instance, nullptr);
}

void MainWindow::StackControls() {
  HWND above = HWND_TOP;
  for (const Control which : kStackingOrder) {
    SetWindowPos(controls_[which], above, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = controls_[which];
  }
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
  for (size_t i = 0; i < std::size(kControls); ++i)
    if (const std::string* text =
            SingleLineText(model, static_cast<Control>(i)))
      SetWindowTextW(controls_[i], ToWide(*text).c_str());

  // The list holds no lines (ListModel says why): only whether it shows.
  ::ShowWindow(controls_[kList1], model.List1.visible ? SW_SHOWNA : SW_HIDE);
}

int MainWindow::Show(const WindowModel& model) {
  Update(model);
  return Display();
}

int MainWindow::Display() {
  if (!hwnd_) return 0;
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetForegroundWindow(hwnd_);
  SetFocus(controls_[kCmdok]);
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
      if (LOWORD(wparam) == kFirstControlId + kCmdok &&
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
