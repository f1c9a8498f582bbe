// The program's icon, drawn in code: a rounded tile with a loop over a row
// of ports.
//
// AppIconImage needs no application object, so a build step can write the
// icon files the desktop menus use (packaging/render_icon.cpp); the others
// are for the user-interface thread (after QApplication exists).
#ifndef QUARNEX_UI_APP_ICON_H_
#define QUARNEX_UI_APP_ICON_H_

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace quarnex {

// The icon at `size` x `size` pixels.
QImage AppIconImage(int size);
QPixmap AppIconPixmap(int size);
// The window icon, in the usual sizes.
QIcon AppIcon();

}  // namespace quarnex

#endif  // QUARNEX_UI_APP_ICON_H_
