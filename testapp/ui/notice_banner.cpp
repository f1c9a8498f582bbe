#include "testapp/ui/notice_banner.h"

namespace quarnex {

NoticeBanner::NoticeBanner(QWidget* parent) : QToolBar(parent) {
  setObjectName("NoticeBanner");
  setMovable(false);
  setFloatable(false);
  setContextMenuPolicy(Qt::PreventContextMenu);
  label_ = new QLabel(this);
  label_->setObjectName("NoticeText");
  label_->setTextFormat(Qt::PlainText);
  label_->setWordWrap(true);
  label_->setContentsMargins(6, 3, 6, 3);
  setStyleSheet("QToolBar#NoticeBanner { background: #fff4c2; border: 0; }");
  addWidget(label_);
  hide();
}

void NoticeBanner::SetText(const QString& text) {
  label_->setText(text);
  label_->setToolTip(text);
  setVisible(!text.isEmpty());
}

QString NoticeBanner::Text() const { return label_->text(); }

}  // namespace quarnex
