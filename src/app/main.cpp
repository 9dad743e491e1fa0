#include "app/Form1.h"
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

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
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
        std::fprintf(stderr, "%s\n\n%s", qPrintable(error), qPrintable(startHelpText()));
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
    std::unique_ptr<PortBackend> backend =
        createBackend(options, programDir, static_cast<std::uint16_t>(settings.CardAddress), notes, error);
    if (!backend) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
        if (displayAvailable()) {
            QApplication app(argc, argv);
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

    QApplication app(argc, argv);
    Module1 link(*backend);
    link.setListener(trace.get());
    RegisterTable table;
    Form1 form1(link, table, programDir, options.card == CardKind::Simulated);
    QObject::connect(&form1, &Form1::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (auto* sim = dynamic_cast<SimCard*>(backend.get())) {
        // A state file that cannot be written must not go unnoticed: the
        // meters' EEPROM would be lost at the next start.
        sim->setMessageHandler([&form1](const QString& message) {
            std::fprintf(stderr, "vardel: %s\n", qPrintable(message));
            QMessageBox::warning(&form1, QStringLiteral("Vardel"), message);
        });
    }
    form1.Form_Load();
    form1.show();
    for (const QString& note : notes) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(note));
        QMessageBox::warning(&form1, QStringLiteral("Vardel"), note);
    }
    return app.exec();
}
