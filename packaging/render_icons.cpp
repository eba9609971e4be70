// Writes the program's icon as the PNG files of a desktop icon theme:
//   render_icons DIR NAME SIZE...   writes DIR/<SIZE>x<SIZE>/apps/NAME.png for each size
// The pixels come from the same drawing as the windows' icon, so menu and window show one picture.
#include "common/appicon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: render_icons DIR NAME SIZE...\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        if (!ok || size <= 0 || !QDir().mkpath(folder) ||
            !diagnostika::appIconPixmap(size).save(folder + '/' + name + ".png", "PNG")) {
            std::fprintf(stderr, "render_icons: cannot write the %s pixel icon in %s\n", argv[i],
                         qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
