// twinrake: the desktop program on Linux. When it can reach no display it says so in one line
// and stops with status 1.
#include <malloc.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

std::string Described(const char* name) {
    return IsSet(name) ? std::string(name) + "=\"" + std::getenv(name) + "\""
                       : std::string(name) + " not set";
}

[[noreturn]] void NoDisplay(const std::string& why) {
    std::fprintf(stderr, "twinrake: %s; start it inside a graphical session.\n", why.c_str());
    std::fflush(stderr);
    // Also called from inside QApplication's constructor, where no destructor may run.
    std::_Exit(1);
}

// Qt goes to X when nothing else is asked for. Asking the X server first gives the real reason
// instead of Qt's abort.
bool XServerAnswers() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

// While QApplication starts, Qt's messages wait here: when no platform plugin starts (a Wayland
// display that does not answer, a missing plugin), Qt calls qFatal and would abort; the user
// gets the one line of NoDisplay instead.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> heldMessages;

void HoldWhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        NoDisplay("no Qt platform plugin could open a display (" + Described("DISPLAY") + ", " +
                  Described("WAYLAND_DISPLAY") + ", " + Described("QT_QPA_PLATFORM") + ")");
    }
    heldMessages.push_back({type, QByteArray(context.category), text});
}

// Every size of the icon that is built into the program.
QIcon BuiltInIcon() {
    QIcon icon;
    for (const QFileInfo& file : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files)) {
        icon.addFile(file.filePath());
    }
    return icon;
}

}  // namespace

int main(int, char** argv) {
    // All threads allocate from one heap: the scan's and the search's readers each kept a
    // heap of their own, which at a million files held about 28 MiB the window never used
    // again, for about 4 % of the time.
    mallopt(M_ARENA_MAX, 1);
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
        NoDisplay("no display found (DISPLAY and WAYLAND_DISPLAY are not set)");
    }
    const bool usesX =
        IsSet("QT_QPA_PLATFORM") ? qgetenv("QT_QPA_PLATFORM") == "xcb" : !IsSet("WAYLAND_DISPLAY");
    if (usesX && !XServerAnswers()) {
        NoDisplay("cannot connect to the X display (" + Described("DISPLAY") + ")");
    }
    // The program reads no arguments, so Qt gets none to interpret either.
    int qtArgumentCount = 1;
    QtMessageHandler qtHandler = qInstallMessageHandler(HoldWhileStarting);
    QApplication application(qtArgumentCount, argv);
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage& message : heldMessages) {
        qtHandler(
            message.type,
            QMessageLogContext(nullptr, 0, nullptr,
                               message.category.isEmpty() ? nullptr : message.category.constData()),
            message.text);
    }
    QApplication::setApplicationName(QStringLiteral("Twinrake"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The installed icon theme's picture, else the one built into the program; the desktop
    // entry's name lets Wayland compositors find it as well.
    QGuiApplication::setDesktopFileName(QStringLiteral(TWINRAKE_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("twinrake"), BuiltInIcon()));
    // The interface is German, so is the folder dialog where Qt's translations are installed.
    QTranslator qtGerman;
    if (qtGerman.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtGerman);
    }
    return twinrake::RunTwinrake();
}
