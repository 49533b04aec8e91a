// The program's one window, `frmAgesweep`, as data: what every platform shows
// (a native window on Windows, the terminal on POSIX) and what a run fills.
#pragma once

#include <string>

#include "ui/results_list.h"

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

// The nine controls in creation (and stacking) order.
extern const ControlLayout kControls[9];

extern const char kCaption[];
constexpr int kClientWidthTwips = 5925;
constexpr int kClientHeightTwips = 6180;
constexpr int kLoadedHeightTwips = 6765;

struct WindowModel {
  int outer_height_twips = 0;  // 0 until the load sets it
  std::string Text1 = "Text1";
  std::string Text2 = "Text2";
  std::string Text3 = "Text3";
  std::string Text4 = "Text4";
  std::string Text5 = "Text5";
  ResultsList List1;
};

// The fixed help text: 28 lines, each ended by CR LF.
extern const char kHelpText[];
// The sentence of `Label2`.
extern const char kLabel2Text[];
// The Close button's caption, '&' marking the access key.
extern const char kCloseCaption[];

// The window as a terminal shows it: caption, empty line, the help text,
// empty line, the label sentence and the Close button, with LF line ends.
std::string RenderForTerminal(const WindowModel& window);
