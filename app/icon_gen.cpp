// zorvak-icon-gen: writes the client's icon as PNG files, one per size, for the
// desktop's icon theme: zorvak-icon-gen OUTDIR writes OUTDIR/<N>x<N>/zorvak-client.png.
#include <QDir>
#include <QGuiApplication>

#include <cstdio>

#include "app/app_icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: zorvak-icon-gen OUTDIR\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QDir out(QString::fromLocal8Bit(argv[1]));
    for (int size : zorvak::kIconSizes) {
        QString sub = QString("%1x%1").arg(size);
        if (!out.mkpath(sub) ||
            !zorvak::DrawClientIcon(size).save(out.filePath(sub + "/zorvak-client.png"))) {
            std::fprintf(stderr, "zorvak-icon-gen: cannot write %s\n", qPrintable(sub));
            return 1;
        }
    }
    return 0;
}
