// Writes the program's notebook icon as the PNG files the desktop's icon theme takes:
//   make_icons OUTPUT_FOLDER   ->  korvela-16.png korvela-32.png korvela-48.png
#include "widgets/pictures.h"

#include <QGuiApplication>
#include <QPixmap>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    for (int size : {16, 32, 48}) {
        const QString file = QString::fromLocal8Bit(argv[1]) + u"/korvela-" + QString::number(size) + u".png";
        if (!korvela::paintNotebook(size).save(file, "PNG"))
            return 1;
    }
    return 0;
}
