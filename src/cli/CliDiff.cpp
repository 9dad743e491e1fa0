#include "cli/CliDiff.h"

#include "cli/CliResults.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "files/ConfigFile.h"
#include "link/Module1.h"

#include <QDir>

#include <optional>
#include <span>
#include <utility>

namespace vardel {

namespace {

// The descriptive fields in file order, captioned as the register editor
// captions their boxes.
struct Field {
    const char* caption;
    QString RegisterTable::*member;
};
const Field kHeadFields[] = {
    {"Numer seryjny miernika", &RegisterTable::SerialNo},
    {"Wersja programu", &RegisterTable::ProgVersion},
    {"Wykonanie wejść We-1", &RegisterTable::InVer1},
    {"Wykonanie wejść We-2", &RegisterTable::InVer2},
    {"Wykonanie wejść We-3", &RegisterTable::InVer3},
    {"Wykonanie wejść We-4", &RegisterTable::InVer4},
};
const Field kTailFields[] = {
    {"Dane odbiorcy", &RegisterTable::CustomerData},
    {"Uwagi dodatkowe", &RegisterTable::Remarks},
};

// A text on one line: in quotes, its line breaks as \n.
QString quoted(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\n"));
    return QStringLiteral("„%1”").arg(text);
}

// A text as other programs get it: its line breaks as \n, whatever the file held.
QString plainText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

RecordValue textOrNull(const QString& text)
{
    return text.isEmpty() ? RecordValue::null() : RecordValue::fromText(text);
}

class Diff {
public:
    Diff(const CliContext& context, OutputFormat format)
        : m_results(context, format,
                    {QStringLiteral("register"), QStringLiteral("register_label"), QStringLiteral("name"),
                     QStringLiteral("a"), QStringLiteral("b")})
    {
        m_results.begin();
    }

    void fields(const RegisterTable& a, const RegisterTable& b, std::span<const Field> list)
    {
        for (const Field& f : list) {
            if (a.*f.member == b.*f.member)
                continue;
            const QString caption = QString::fromUtf8(f.caption);
            add(QStringLiteral("%1: w A %2, w B %3").arg(caption, quoted(a.*f.member), quoted(b.*f.member)),
                {RecordValue::null(), RecordValue::null(), RecordValue::fromText(caption),
                 RecordValue::fromText(plainText(a.*f.member)), RecordValue::fromText(plainText(b.*f.member))});
        }
    }

    void registers(std::int16_t model, const RegisterTable& a, const RegisterTable& b, const RegisterTable& names)
    {
        for (int r = 0; r < a.RegCount; ++r) {
            const auto slot = static_cast<std::size_t>(r);
            // As the files hold them: seven significant digits.
            const QString inA = PointValueText(a.RegValue[slot]);
            const QString inB = PointValueText(b.RegValue[slot]);
            if (inA == inB)
                continue;
            const QString name = names.RegName[slot].trimmed();
            const QString label = registerLabel(model, r);
            add(QStringLiteral("Rejestr %1%2: w A %3, w B %4")
                    .arg(label, name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name), inA, inB),
                {RecordValue::fromInteger(r), RecordValue::fromText(label), textOrNull(name),
                 RecordValue::fromNumber(inA), RecordValue::fromNumber(inB)});
        }
    }

    int count() const { return m_count; }
    void summary(const QString& line) { m_results.summary(line); }

private:
    void add(const QString& text, std::initializer_list<RecordValue> record)
    {
        m_results.add(text, record);
        ++m_count;
    }

    CliResults m_results;
    int m_count = 0;
};

} // namespace

int runDiff(const CliOptions& options, const CliContext& context, Module1& link, std::int16_t configuredModel)
{
    const auto usage = [&context](const QString& message) {
        context.err(message);
        return static_cast<int>(kExitUsage);
    };
    const QString& fileA = options.file;
    const QString& fileB = options.secondFile;
    const std::optional<std::int16_t> modelA = modelOfFileName(fileA);
    const std::optional<std::int16_t> modelB = modelOfFileName(fileB);
    if (modelA && modelB && *modelA != *modelB) {
        return usage(QStringLiteral("Pliki %1 i %2 są konfiguracjami różnych modeli (%3 i %4).")
                         .arg(QDir::toNativeSeparators(fileA), QDir::toNativeSeparators(fileB),
                              modelNameOf(*modelA), modelNameOf(*modelB)));
    }

    std::int16_t model = configuredModel;
    if (const auto named = modelA ? modelA : modelB) {
        // The extension decides, unless --model says otherwise: then it is
        // refused as everywhere else, or taken with --force.
        if (options.model && *options.model != *named && !options.force)
            return usage(otherModelMessage(modelA ? fileA : fileB, *named, *options.model));
        model = options.model && options.force ? *options.model : *named;
    }
    if (model < kModelKX2 || model > kModelKX4)
        return usage(QStringLiteral("Nie wybrano modelu miernika (Vardel.cfg podaje %1); użyj --model KX-2|KX-3|KX-4.")
                         .arg(model));

    RegisterTable a;
    selectModel(link, a, model, context.programDir);
    RegisterTable b = a;
    for (const auto& [table, path] : {std::pair{&a, fileA}, std::pair{&b, fileB}}) {
        const FileResult loaded = ReadConfigFile(*table, path);
        if (!loaded.ok)
            return usage(loaded.message);
    }
    // The names make the lines readable; without them the numbers still tell.
    RegisterTable names = a;
    const NamesLoad loaded = LoadRegisterNames(names);
    if (!loaded.ok)
        context.err(loaded.message);

    Diff diff(context, options.format);
    diff.fields(a, b, kHeadFields);
    diff.registers(model, a, b, names);
    diff.fields(a, b, kTailFields);
    if (diff.count() > 0)
        return kExitDiffers;
    diff.summary(QStringLiteral("Zgodność: wszystkie %1 rejestrów i pola opisu").arg(a.RegCount));
    return kExitOk;
}

} // namespace vardel
