// frmAgesweep as a native window: created hidden with its nine controls at
// start-up, filled from the run's WindowModel, displayed on the help path.
#pragma once

#include <windows.h>

#include <cstddef>
#include <iterator>
#include <string>

#include "ui/window.h"

class MainWindow : public WindowDisplay {
 public:
  MainWindow() = default;
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window and its controls, hidden. False when the system
  // refuses (no window station, for instance).
  bool Create(HINSTANCE instance);

  // Copies the run's state into the controls: the outer height, Text1 to
  // Text5, and whether List1 shows.
  void Update(const WindowModel& model);

  // Update, then Display. A window that was never created shows nothing.
  int Show(const WindowModel& model) override;

  // Shows the window with the Close button focused and runs its messages
  // until it is closed. Returns the program's exit status.
  int Display();

  HWND hwnd() const { return hwnd_; }

  // Control identifiers: 100 plus the index in kControls.
  static constexpr int kFirstControlId = 100;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  int Pixels(int twips) const;
  bool CreateFrame(HINSTANCE instance);
  HWND CreateControl(HINSTANCE instance, Control which);
  void StackControls();

  HWND hwnd_ = nullptr;
  HWND controls_[std::size(kControls)] = {};
  HWND focus_ = nullptr;  // the control to give the focus back to
  int dpi_ = 96;
};
