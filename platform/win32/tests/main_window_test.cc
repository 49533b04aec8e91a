// The native frmAgesweep, created hidden as at the start of every run.
#include "platform/win32/main_window.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/text.h"

namespace {

std::string TextOf(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<size_t>(n));
  return ToUtf8(text);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64];
  GetClassNameW(hwnd, name, 64);
  return name;
}

int Dpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int Px(int twips) { return MulDiv(twips, Dpi(), 1440); }

struct MainWindowTest : testing::Test {
  MainWindow window;
  void SetUp() override {
    if (!window.Create(GetModuleHandleW(nullptr)))
      GTEST_SKIP() << "no window station to create windows in";
  }
  ::Control Index(const char* name) {
    for (size_t i = 0; i < std::size(kControls); ++i)
      if (std::string(kControls[i].name) == name)
        return static_cast<::Control>(i);
    ADD_FAILURE() << name;
    return kCmdok;
  }
  HWND Control(::Control which) {
    return GetDlgItem(window.hwnd(), MainWindow::kFirstControlId + which);
  }
  HWND Control(const char* name) { return Control(Index(name)); }
};

}  // namespace

TEST_F(MainWindowTest, CreatedHiddenWithItsSettings) {
  const HWND hwnd = window.hwnd();
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(kCaption, TextOf(hwnd));
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME) << "the border must not be sizable";
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_CAPTION);
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(Px(kClientWidthTwips), client.right);
  EXPECT_EQ(Px(kClientHeightTwips), client.bottom);
}

TEST_F(MainWindowTest, NineControlsWithTheirGeometryAndTexts) {
  const HFONT gui_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (size_t i = 0; i < std::size(kControls); ++i) {
    const ControlLayout& c = kControls[i];
    const HWND control = Control(static_cast<::Control>(i));
    ASSERT_NE(nullptr, control) << c.name;
    EXPECT_EQ(window.hwnd(), GetParent(control));
    EXPECT_EQ(static_cast<int>(MainWindow::kFirstControlId + i),
              GetDlgCtrlID(control));
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(Px(c.left), r.left) << c.name;
    EXPECT_EQ(Px(c.top), r.top) << c.name;
    EXPECT_EQ(Px(c.width), r.right - r.left) << c.name;
    EXPECT_EQ(Px(c.height), r.bottom - r.top) << c.name;
    EXPECT_EQ(gui_font, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)))
        << c.name;
  }
  EXPECT_EQ(L"Button", ClassOf(Control("cmdok")));
  EXPECT_EQ(kCloseCaption, TextOf(Control("cmdok")));
  EXPECT_EQ(kHelpText, TextOf(Control("Text")));
  EXPECT_EQ(kLabel2Text, TextOf(Control("Label2")));
  EXPECT_EQ(L"Static", ClassOf(Control("Label2")));
  for (const char* name : {"Text1", "Text2", "Text3", "Text4", "Text5"}) {
    EXPECT_EQ(name, TextOf(Control(name)));
    EXPECT_TRUE(IsWindowEnabled(Control(name)));
  }
  EXPECT_EQ(L"ListBox", ClassOf(Control("List1")));
  EXPECT_EQ(0, SendMessageW(Control("List1"), LB_GETCOUNT, 0, 0));
  EXPECT_FALSE(GetWindowLongW(Control("List1"), GWL_STYLE) & LBS_SORT);
  EXPECT_FALSE(GetWindowLongW(Control("List1"), GWL_STYLE) & LBS_MULTIPLESEL);
}

TEST_F(MainWindowTest, TheHelpBoxIsDisabledMultiLineWithoutScrollBars) {
  const HWND help = Control("Text");
  const LONG style = GetWindowLongW(help, GWL_STYLE);
  EXPECT_FALSE(IsWindowEnabled(help));
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_FALSE(style & (WS_VSCROLL | WS_HSCROLL));
  EXPECT_FALSE(style & (ES_AUTOHSCROLL | ES_AUTOVSCROLL));
  // 28 lines, and more where long ones wrap.
  EXPECT_GE(SendMessageW(help, EM_GETLINECOUNT, 0, 0), 28);
}

// Tab order follows the stacking order: the help box, Close, then the other
// boxes in their table order; the label lies beneath all of them.
TEST_F(MainWindowTest, StackingFollowsTheFocusOrder) {
  const char* expected[] = {"Text",  "cmdok", "Text2", "Text3", "Text1",
                            "Text4", "Text5", "List1", "Label2"};
  HWND child = GetWindow(window.hwnd(), GW_CHILD);
  for (const char* name : expected) {
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(Control(name), child) << name;
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(nullptr, child);
}

TEST_F(MainWindowTest, UpdateCopiesTheRunIntoTheControls) {
  WindowModel model;
  model.outer_height_twips = kLoadedHeightTwips;
  model.Text3 = "1,234";
  model.Text4 = "7";
  model.Text5 = "0.25  seconds";
  model.List1.visible = true;
  window.Update(model);

  EXPECT_EQ("Text1", TextOf(Control("Text1")));
  EXPECT_EQ("Text2", TextOf(Control("Text2")));
  EXPECT_EQ("1,234", TextOf(Control("Text3")));
  EXPECT_EQ("7", TextOf(Control("Text4")));
  EXPECT_EQ("0.25  seconds", TextOf(Control("Text5")));
  const HWND list = Control("List1");
  EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE);
  RECT r;
  GetWindowRect(window.hwnd(), &r);
  EXPECT_EQ(Px(kLoadedHeightTwips), r.bottom - r.top);
  EXPECT_FALSE(IsWindowVisible(window.hwnd()));

  model.List1.visible = false;
  model.Text3.clear();
  window.Update(model);
  EXPECT_FALSE(GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ("", TextOf(Control("Text3")));
}
