// AboutDialog: the program's name and version.
//
// "Close", Esc or closing the window ends it, each with result 1.
//
// A modal dialog of the user-interface thread.
#ifndef QUARNEX_UI_ABOUT_DIALOG_H_
#define QUARNEX_UI_ABOUT_DIALOG_H_

#include <QDialog>

namespace quarnex {

inline constexpr char kProgramName[] = "ZVL Quarnex Tester";
inline constexpr char kVersionText[] = "Version 1.93";

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);

  // Esc ends it as Close does.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_ABOUT_DIALOG_H_
