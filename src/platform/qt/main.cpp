// twinrake: the desktop program on Linux. Without a display it says so and stops.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "app/app.h"

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

int main(int, char** argv) {
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
        std::fputs(
            "twinrake: no display found (DISPLAY and WAYLAND_DISPLAY are not set); "
            "start it inside a graphical session.\n",
            stderr);
        return 1;
    }
    // The program reads no arguments, so Qt gets none to interpret either.
    int qtArgumentCount = 1;
    QApplication application(qtArgumentCount, argv);
    QApplication::setApplicationName(QStringLiteral("Twinrake"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The interface is German, so is the folder dialog where Qt's translations are installed.
    QTranslator qtGerman;
    if (qtGerman.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtGerman);
    }
    return twinrake::RunTwinrake();
}
