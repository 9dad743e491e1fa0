#include "app/Form1.h"
#include "app/QtTranslations.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "config/RegisterTable.h"
#include "link/LinkTrace.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

using namespace vardel;

namespace {

// The folder of the executable, known before any Qt application object
// exists (Vardel.cfg, the names files and the simulator's state lie there).
QString programFolder(const char* argv0)
{
    QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return QFileInfo(self.canonicalFilePath()).absolutePath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

// While the window system starts, Qt's messages are held back: a display
// that cannot be opened ends in qFatal, an abort with advice meant for
// developers. The user gets one Polish line and the given exit code instead.
int g_noDisplayExit = 2;
bool g_sayNoDisplay = true;
QStringList g_heldMessages;

void holdStartMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        if (g_sayNoDisplay)
            std::fprintf(stderr, "vardel: %s\n", qPrintable(noDisplayMessage()));
        std::fflush(stderr);
        std::_Exit(g_noDisplayExit);
    }
    g_heldMessages << qFormatLogMessage(type, context, message);
}

std::unique_ptr<QApplication> openWindowSystem(int& argc, char** argv, int failCode, bool sayWhy)
{
    g_noDisplayExit = failCode;
    g_sayNoDisplay = sayWhy;
    const QtMessageHandler previous = qInstallMessageHandler(holdStartMessages);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& held : std::exchange(g_heldMessages, {}))
        std::fprintf(stderr, "%s\n", qPrintable(held));
    return app;
}

} // namespace

int main(int argc, char** argv)
{
    // The options and the back end are settled before any window exists, so
    // that --help, a mistyped option and a refused port work without a display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    StartOptions options;
    QString error;
    if (!parseStartOptions(args, options, error)) {
        std::fprintf(stderr, "vardel: %s\n%s\n", qPrintable(error), qPrintable(startUsageLine()));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(startHelpText()), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("vardel " VARDEL_VERSION);
        return 0;
    }

    const QString programDir = programFolder(argv[0]);
    // The card's ports come from the settings file; the back end must reach
    // them before the main window resets the card.
    const Settings settings = readSettingsFile(settingsFilePath(programDir));
    QStringList notes;
    // The card stays locked for this program while it runs; a card another
    // program has is refused like one whose ports are refused.
    OpenCard card;
    const CardOpen opened =
        openCard(options, programDir, static_cast<std::uint16_t>(settings.CardAddress), {}, card, notes, error);
    std::unique_ptr<PortBackend>& backend = card.backend;
    if (opened != CardOpen::Opened) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
        if (displayNamed(options)) {
            const auto app = openWindowSystem(argc, argv, 3, false);
            installQtPolish(*app);
            QMessageBox::critical(nullptr, QStringLiteral("Vardel"), error);
        }
        return 3;
    }

    // The bus monitor, opened before any window, like the back end.
    std::unique_ptr<LinkTrace> trace;
    if (!options.trace.isEmpty() && !(trace = openLinkTrace(options.trace, error))) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
        return 2;
    }

    if (!displayNamed(options)) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(noDisplayMessage()));
        return 2;
    }
    const auto guiApp = openWindowSystem(argc, argv, 2, true);
    QApplication& app = *guiApp;
    // Qt's own dialogs and buttons speak the program's language.
    installQtPolish(app);
    Module1 link(*backend);
    auto* sim = dynamic_cast<SimCard*>(backend.get());
    if (sim)
        link.setCardClock(&sim->cardClock());
    if (trace)
        trace->setCardClock(&link.cardClock());
    link.setListener(trace.get());
    RegisterTable table;
    Form1 form1(link, table, programDir, options.card == CardKind::Simulated);
    form1.setHistoryFolder(historyFolder(options, programDir));
    if (sim) {
        // A state file that cannot be written must not go unnoticed: the
        // meters' EEPROM would be lost at the next start.
        sim->setMessageHandler([&form1](const QString& message) {
            std::fprintf(stderr, "vardel: %s\n", qPrintable(message));
            QMessageBox::warning(&form1, QStringLiteral("Vardel"), message);
        });
    }
    if (card.ports) {
        // "Adres karty" moved to a card another program has. Shown once the
        // exchange under way has ended, not in the middle of it.
        card.ports->setMessageHandler([&form1](const QString& message) {
            std::fprintf(stderr, "vardel: %s\n", qPrintable(message));
            QMetaObject::invokeMethod(
                &form1, [&form1, message] { QMessageBox::warning(&form1, QStringLiteral("Vardel"), message); },
                Qt::QueuedConnection);
        });
    }
    form1.Form_Load();
    form1.show();
    for (const QString& note : notes) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(note));
        QMessageBox::warning(&form1, QStringLiteral("Vardel"), note);
    }
    const int code = app.exec();
    // The meters stay powered: the next program finds their RAM as this one
    // leaves it.
    if (sim && !sim->saveChanges(&error))
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
    return code;
}
