// Writes the program's icon as PNG files for the hicolor theme, one per size, drawn by the
// same routine as the tray icon: make-icons OUTDIR SIZE... gives OUTDIR/SIZE/zorvin.png.
#include "ui/ProgramIcon.h"

#include <QDir>
#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-icons OUTDIR SIZE...\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        const QString dir = outDir + QStringLiteral("/%1").arg(size);
        if (size <= 0 || !QDir().mkpath(dir) ||
            !ProgramIcon::draw(ProgramIcon::kNormalColor, size).save(dir + QStringLiteral("/zorvin.png"))) {
            std::fprintf(stderr, "make-icons: cannot write the %s pixel icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
