#pragma once

#include "config/RegisterTable.h"

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringEncoder>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vardel::test {

// A table of the model with names that hold Polish letters, so that the
// encoding of the report can be checked in its text.
inline RegisterTable reportTable(std::int16_t model)
{
    RegisterTable t;
    t.RegCount = regCountOf(model);
    t.ModelTag = modelTagOf(model);
    t.SerialNo = QStringLiteral("000123");
    t.ProgVersion = QStringLiteral("3.14");
    t.InVer1 = QStringLiteral("4-20 mA");
    t.InVer2 = QStringLiteral("0-10 V");
    t.InVer3 = QStringLiteral("Pt100");
    t.InVer4 = QStringLiteral("brak");
    t.CustomerData = QStringLiteral("Zakład Energetyczny Północ\r\nul. Łąkowa 5\r\n00-950 Gdańsk");
    t.Remarks = QStringLiteral("Miernik po kalibracji.\r\nSprawdzono wszystkie wejścia.");
    for (int r = 0; r < kRegisterSlots; ++r) {
        t.RegName[static_cast<std::size_t>(r)] = QStringLiteral("Współczynnik żółty %1").arg(r);
        t.RegValue[static_cast<std::size_t>(r)] = static_cast<float>(r) * 1.25f - 20.0f;
    }
    return t;
}

// A names file as the program reads it: Windows-1250, CR LF, one name a line.
inline QByteArray namesFileBytes(int count, const QString& stem)
{
    QString text;
    for (int r = 0; r < count; ++r)
        text += QStringLiteral("%1 %2\r\n").arg(stem).arg(r);
    QStringEncoder enc("windows-1250");
    return enc.encode(text);
}

// Output of a command line tool, or nothing when it is missing or fails.
inline std::optional<QString> runTool(const QString& tool, const QStringList& args)
{
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline bool popplerAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();
}

// Page count by pdfinfo; -1 when it cannot tell.
inline int pdfPages(const QString& path)
{
    const auto out = runTool(QStringLiteral("pdfinfo"), {path});
    if (!out)
        return -1;
    for (const QString& line : out->split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

inline QString pdfText(const QString& path, bool layout = false)
{
    QStringList args;
    if (layout)
        args << QStringLiteral("-layout");
    args << QStringLiteral("-enc") << QStringLiteral("UTF-8") << path << QStringLiteral("-");
    return runTool(QStringLiteral("pdftotext"), args).value_or(QString());
}

} // namespace vardel::test
