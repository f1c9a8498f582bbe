// quarnex_render_icon OUTDIR SIZE...: writes the window's icon, as the
// window draws it (testapp/ui/app_icon.cpp), to
// OUTDIR/SIZExSIZE/apps/quarnex-tester.png for each size: the layout of the
// hicolor icon theme, which the package installs under share/icons.
//
// Exit status 0 when every file was written, 1 otherwise, 2 for a bad
// command line.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testapp/ui/app_icon.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
    return 2;
  }
  const QString out_dir = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const long size = std::strtol(argv[i], &end, 10);
    if (end == argv[i] || *end != '\0' || size < 16 || size > 1024) {
      std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
      return 2;
    }
    const QString folder = QString("%1/%2x%2/apps").arg(out_dir).arg(size);
    const QString path = folder + "/quarnex-tester.png";
    if (!QDir().mkpath(folder) ||
        !quarnex::AppIconImage(static_cast<int>(size)).save(path, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
