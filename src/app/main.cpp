#include "app/Form1.h"
#include "app/Startup.h"
#include "app/Settings.h"
#include "config/RegisterTable.h"
#include "link/Module1.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

using namespace vardel;

int main(int argc, char** argv)
{
    // The options are looked at before any window exists, so that --help and
    // a mistyped option work without a display.
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

    QApplication app(argc, argv);
    const QString programDir = QCoreApplication::applicationDirPath();

    // The card's ports come from the settings file; the back end must be able
    // to reach them before the main window resets the card.
    const Settings settings = readSettingsFile(programDir + QLatin1Char('/') + QLatin1String(kSettingsFileName));
    QStringList notes;
    std::unique_ptr<PortBackend> backend =
        createBackend(options, programDir, static_cast<std::uint16_t>(settings.CardAddress), notes, error);
    if (!backend) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
        QMessageBox::critical(nullptr, QStringLiteral("Vardel"), error);
        return 3;
    }

    Module1 link(*backend);
    RegisterTable table;
    Form1 form1(link, table, programDir, options.card == CardKind::Simulated);
    QObject::connect(&form1, &Form1::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form1.Form_Load();
    form1.show();
    for (const QString& note : notes) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(note));
        QMessageBox::warning(&form1, QStringLiteral("Vardel"), note);
    }
    return app.exec();
}
