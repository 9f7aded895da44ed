#include "WindowFonts.h"

#include <QFontDatabase>
#include <QString>

int registerWindowFonts()
{
    int loaded = 0;
    for (const char *font :
         {":/icons/font/Poppins-Regular.ttf", ":/icons/font/Poppins-SemiBold.ttf",
          ":/icons/font/Poppins-Bold.ttf"}) {
        if (QFontDatabase::addApplicationFont(QString::fromLatin1(font)) >= 0)
            ++loaded;
    }
    return loaded;
}
