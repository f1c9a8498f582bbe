// NoticeBanner: a strip across the top of the window that says what a
// Start could not use and what the run uses instead, until the next Start.
//
// A widget of the user-interface thread. It lives in the window's top
// toolbar area, so it needs no room in the central widget; hidden while
// there is nothing to say.
#ifndef QUARNEX_UI_NOTICE_BANNER_H_
#define QUARNEX_UI_NOTICE_BANNER_H_

#include <QLabel>
#include <QString>
#include <QToolBar>

namespace quarnex {

// What the run uses when quarnex.cfg could not be read.
inline constexpr char kEmptyConfigurationText[] =
    "This run uses an empty line configuration: no BitRate (the lines are "
    "unpaced and the throughput reads N.A.) and 5-bit characters.";

class NoticeBanner : public QToolBar {
  Q_OBJECT

 public:
  explicit NoticeBanner(QWidget* parent = nullptr);

  // Shows `text`; an empty text hides the banner.
  void SetText(const QString& text);
  QString Text() const;

 private:
  QLabel* label_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_NOTICE_BANNER_H_
