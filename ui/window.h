// The program's one window, `frmAgesweep`, as data: what every platform shows
// (a native window on Windows, the terminal on POSIX) and what a run fills.
#pragma once

#include <cstddef>
#include <string>


enum class ControlKind { kButton, kTextBox, kListBox, kLabel };

// A control's place, in twips within the client area.
struct ControlLayout {
  const char* name;
  ControlKind kind;
  int left;
  int top;
  int width;
  int height;
};

// The controls, by their place in kControls: creation order.
enum Control : size_t {
  kCmdok,
  kText,  // the help box
  kText2,
  kText3,
  kText1,
  kText4,
  kText5,
  kList1,
  kLabel2,
};

// Every control in creation order, indexed by Control; std::size(kControls)
// is their number.
inline constexpr ControlLayout kControls[] = {
    {"cmdok", ControlKind::kButton, 4920, 5760, 975, 375},
    {"Text", ControlKind::kTextBox, 0, 0, 5895, 5655},
    {"Text2", ControlKind::kTextBox, 2400, 840, 1455, 375},
    {"Text3", ControlKind::kTextBox, 2400, 1440, 1455, 375},
    {"Text1", ControlKind::kTextBox, 2400, 360, 1455, 375},
    {"Text4", ControlKind::kTextBox, 2400, 1920, 1455, 375},
    {"Text5", ControlKind::kTextBox, 2400, 2400, 1455, 375},
    {"List1", ControlKind::kListBox, 480, 3000, 4575, 2595},
    {"Label2", ControlKind::kLabel, 120, 5760, 4695, 255},
};

extern const char kCaption[];
constexpr int kClientWidthTwips = 5925;
constexpr int kClientHeightTwips = 6180;
constexpr int kLoadedHeightTwips = 6765;

// The results list. Its lines are never held: the window is displayed only
// on the help path, before any sweep, so a line per matched file would cost
// memory without bound for something no one sees. It is cleared, hidden and
// shown again as the run goes, and is empty whenever it is displayed.
struct ListModel {
  bool visible = true;
};

struct WindowModel {
  int outer_height_twips = 0;  // 0 until the load sets it
  std::string Text1 = "Text1";
  std::string Text2 = "Text2";
  std::string Text3 = "Text3";
  std::string Text4 = "Text4";
  std::string Text5 = "Text5";
  ListModel List1;
};

// Where the window is displayed: a native window on Windows, the terminal
// elsewhere.
struct WindowDisplay {
  virtual ~WindowDisplay() = default;
  // Displays `window` until the user closes it; returns the exit status.
  virtual int Show(const WindowModel& window) = 0;
};

// The text of `control` when it is one of the single-line boxes Text1 to
// Text5; null for every other control.
const std::string* SingleLineText(const WindowModel& window, Control control);

// The fixed help text: 28 lines, each ended by CR LF.
extern const char kHelpText[];
// The sentence of `Label2`.
extern const char kLabel2Text[];
// The Close button's caption, '&' marking the access key.
extern const char kCloseCaption[];

// The window as a terminal shows it: caption, empty line, the help text,
// empty line, the label sentence and the Close button, with LF line ends.
std::string RenderForTerminal(const WindowModel& window);
