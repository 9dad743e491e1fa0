// The report through the real print service: a private CUPS scheduler with a
// PDF printer (cups-pdf), fed by the main window's print action.

#include "ReportTestSupport.h"

#include "link/Module1.h"
#include "report/PrintController.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPrinter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace vardel {
namespace {

const QString kPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
const QString kBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString kPrinter = QStringLiteral("VardelPDF");

// Where cups-pdf puts the jobs of the user running the test: its Out setting
// with ${HOME} and ${USER} filled in.
QString cupsPdfOutDir()
{
    const passwd* pw = getpwuid(geteuid());
    const QString home = pw ? QString::fromLocal8Bit(pw->pw_dir) : QDir::homePath();
    const QString user = pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("root");
    QString out = QStringLiteral("/var/spool/cups-pdf/${USER}");
    QFile conf(QStringLiteral("/etc/cups/cups-pdf.conf"));
    if (conf.open(QIODevice::ReadOnly)) {
        for (const QByteArray& raw : conf.readAll().split('\n')) {
            const QString line = QString::fromLocal8Bit(raw).trimmed();
            if (line.startsWith(QLatin1String("Out ")) || line.startsWith(QLatin1String("Out\t")))
                out = line.mid(4).trimmed();
        }
    }
    out.replace(QLatin1String("${HOME}"), home).replace(QLatin1String("${USER}"), user);
    return out;
}

bool writeFile(const QString& path, const QString& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

class CupsPrint : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "a private CUPS scheduler needs root";
        for (const QString& tool : {QStringLiteral("cupsd"), QStringLiteral("lpadmin"), QStringLiteral("lpstat")})
            if (QStandardPaths::findExecutable(tool, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                                      QStringLiteral("/sbin"), QStringLiteral("/bin")})
                    .isEmpty())
                GTEST_SKIP() << tool.toStdString() << " not installed (package cups)";
        if (!QFileInfo::exists(kBackend) || !QFileInfo::exists(kPpd))
            GTEST_SKIP() << "cups-pdf not installed (package printer-driver-cups-pdf)";
        if (!test::popplerAvailable())
            GTEST_SKIP() << "pdfinfo/pdftotext (poppler-utils) not installed";

        ASSERT_TRUE(root.isValid());
        const QString r = root.path();
        // The filters run as the lp user and must reach the spool below here.
        ASSERT_TRUE(QFile::setPermissions(r, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                 | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                 | QFileDevice::ReadOther | QFileDevice::ExeOther));
        for (const char* sub : {"etc", "spool/tmp", "cache", "state", "log"})
            ASSERT_TRUE(QDir(r).mkpath(QString::fromLatin1(sub)));
        socket = r + QStringLiteral("/cups.sock");
        ASSERT_TRUE(writeFile(r + QStringLiteral("/etc/cups-files.conf"),
                              QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                                             "CacheDir %1/cache\nStateDir %1/state\nErrorLog %1/log/error_log\n"
                                             "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                                             "Printcap %1/printcap\nSystemGroup root\nPeerCred on\nFileDevice No\n")
                                  .arg(r)));
        ASSERT_TRUE(writeFile(r + QStringLiteral("/etc/cupsd.conf"),
                              QStringLiteral("Listen %1\nLogLevel info\nWebInterface No\nBrowsing No\n"
                                             "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n"
                                             "</Location>\n<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                                             "  </Limit>\n</Policy>\n")
                                  .arg(socket)));

        cupsd.setProcessChannelMode(QProcess::MergedChannels);
        cupsd.start(QStringLiteral("cupsd"), {QStringLiteral("-f"), QStringLiteral("-c"), r + QStringLiteral("/etc/cupsd.conf"),
                                              QStringLiteral("-s"), r + QStringLiteral("/etc/cups-files.conf")});
        ASSERT_TRUE(cupsd.waitForStarted(10000)) << "cupsd did not start";
        const QDeadlineTimer ready(30000);
        while (!run(QStringLiteral("lpstat"), {QStringLiteral("-h"), socket, QStringLiteral("-r")}) && !ready.hasExpired())
            QThread::msleep(200);
        ASSERT_TRUE(run(QStringLiteral("lpstat"), {QStringLiteral("-h"), socket, QStringLiteral("-r")}))
            << "cupsd did not answer: " << log().toStdString();
        // lpstat answers before the scheduler takes requests on a busy
        // machine: add the printer until it is accepted.
        const QStringList addPrinter{QStringLiteral("-h"), socket, QStringLiteral("-p"), kPrinter,
                                     QStringLiteral("-E"), QStringLiteral("-v"), QStringLiteral("cups-pdf:/"),
                                     QStringLiteral("-P"), kPpd};
        bool added = run(QStringLiteral("lpadmin"), addPrinter);
        while (!added && !ready.hasExpired()) {
            QThread::msleep(250);
            added = run(QStringLiteral("lpadmin"), addPrinter);
        }
        ASSERT_TRUE(added) << log().toStdString();
        // Text stays text on its way through PostScript only with this
        // renderer; the others turn the fonts into unsearchable outlines.
        ASSERT_TRUE(run(QStringLiteral("lpadmin"), {QStringLiteral("-h"), socket, QStringLiteral("-p"), kPrinter,
                                                    QStringLiteral("-o"),
                                                    QStringLiteral("pdftops-renderer-default=pdftocairo")}));
        // Qt's print support asks the scheduler named here; nothing in this
        // process has talked to CUPS before.
        qputenv("CUPS_SERVER", socket.toLocal8Bit());
    }

    void TearDown() override
    {
        if (cupsd.state() != QProcess::NotRunning) {
            cupsd.terminate();
            if (!cupsd.waitForFinished(10000)) {
                cupsd.kill();
                cupsd.waitForFinished(5000);
            }
        }
        for (const QString& f : made)
            QFile::remove(f);
    }

    bool run(const QString& tool, const QStringList& args)
    {
        QProcess p;
        p.start(tool, args);
        return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString log() const
    {
        QFile f(root.path() + QStringLiteral("/log/error_log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll().right(4000)) : QString();
    }

    QTemporaryDir root;
    QString socket;
    QProcess cupsd;
    QStringList made;
};

TEST_F(CupsPrint, ReportReachesThePdfPrinter)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    test::FakePort port;
    Module1 link(port);
    link.MeterModel = kModelKX3;
    RegisterTable table = test::reportTable(kModelKX3);
    table.NamesFile = data.filePath(QStringLiteral("KX3_NAME.TXT"));
    {
        QFile f(table.NamesFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // ASCII names: on its way through PostScript the job keeps the text of
        // plain letters searchable, not that of the Polish ones.
        f.write(test::namesFileBytes(100, QStringLiteral("Czas pomiaru")));
    }

    const QString outDir = cupsPdfOutDir();
    const QString title = QStringLiteral("VardelTest%1").arg(QCoreApplication::applicationPid());
    auto ours = [&] {
        return QDir(outDir).entryList({title + QStringLiteral("*.pdf")}, QDir::Files);
    };
    for (const QString& old : ours())
        QFile::remove(QDir(outDir).filePath(old));

    PrintController controller(link, table, nullptr);
    QString message;
    controller.setMessageHook([&](const QString& m) { message = m; });
    bool native = false;
    controller.setDialogHook([&](QPrinter& p) {
        p.setPrinterName(kPrinter);
        p.setDocName(title);
        // An unknown printer would silently turn into a PDF file.
        native = p.outputFormat() == QPrinter::NativeFormat && p.printerName() == kPrinter;
        return true;
    });
    controller.Form1_Print_Click();
    ASSERT_TRUE(native) << "the scheduler's printer was not offered to Qt";
    ASSERT_EQ(controller.lastOutcome(), PrintController::Outcome::Printed) << message.toStdString();

    // The job goes through the filters and the backend on its own time, and
    // the backend writes its file piece by piece: wait until the queue is
    // empty and the file has kept its size for a second.
    QString pdf;
    qint64 lastSize = -1;
    int steady = 0;
    const QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired() && steady < 4) {
        QThread::msleep(250);
        const QStringList files = ours();
        if (files.isEmpty())
            continue;
        pdf = QDir(outDir).filePath(files.first());
        if (!made.contains(pdf))
            made << pdf;
        QProcess jobs;
        jobs.start(QStringLiteral("lpstat"), {QStringLiteral("-h"), socket, QStringLiteral("-o"), kPrinter});
        const bool queueEmpty = jobs.waitForFinished(20000) && jobs.readAllStandardOutput().trimmed().isEmpty();
        const qint64 size = QFileInfo(pdf).size();
        steady = queueEmpty && size > 0 && size == lastSize ? steady + 1 : 0;
        lastSize = size;
    }
    ASSERT_EQ(steady, 4) << "no complete PDF from the printer in " << outDir.toStdString() << "\n"
                         << log().toStdString();
    EXPECT_EQ(test::pdfPages(pdf), 4);
    const QString text = test::pdfText(pdf);
    for (const char* expected : {"Konfiguracja miernika tablicowego", "Czas pomiaru 0", "Czas pomiaru 99",
                                 "Miernik po kalibracji.", "strona 1", "strona 4"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
}

} // namespace
} // namespace vardel
