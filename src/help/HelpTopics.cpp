#include "help/HelpTopics.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTextDocumentFragment>

#include <algorithm>
#include <array>

// The pages are compiled into this static library; a resource there is
// registered only when asked for by name.
static void registerManual()
{
    static bool registered = false;
    if (!registered) {
        Q_INIT_RESOURCE(vardel_help);
        registered = true;
    }
}

namespace vardel {

namespace {

constexpr std::array<HelpTopic, 13> kTopics{{
    {"wstep", "O programie"},
    {"okno-glowne", "Okno główne"},
    {"odczyt", "Odczyt konfiguracji z miernika"},
    {"edycja", "Edycja konfiguracji"},
    {"zapis", "Zapis konfiguracji do miernika"},
    {"pliki", "Pliki konfiguracji"},
    {"wydruk", "Wydruk konfiguracji"},
    {"test-pomiarow", "Test pomiarów"},
    {"rejestrator", "Rejestrator pomiarów"},
    {"bledy", "Okna błędów"},
    {"klawiatura", "Klawiatura i ekran"},
    {"wiersz-polecen", "Opcje uruchomienia i program vardel-cli"},
    {"pomoc", "Korzystanie z pomocy"},
}};

const QString kFolder = QStringLiteral("/vardel/pomoc/");

} // namespace

std::span<const HelpTopic> helpTopics()
{
    return kTopics;
}

QUrl helpTopicUrl(const QString& id)
{
    registerManual();
    return QUrl(QStringLiteral("qrc:") + kFolder + id + QStringLiteral(".html"));
}

QString helpTopicOfUrl(const QUrl& url)
{
    const QString path = url.path();
    if (url.scheme() != QLatin1String("qrc") || !path.startsWith(kFolder) || !path.endsWith(QLatin1String(".html")))
        return {};
    const QString id = path.mid(kFolder.size()).chopped(5);
    for (const HelpTopic& t : kTopics)
        if (id == QLatin1String(t.id))
            return id;
    return {};
}

QString helpTopicHtml(const QString& id)
{
    registerManual();
    QFile page(QLatin1Char(':') + kFolder + id + QStringLiteral(".html"));
    return page.open(QIODevice::ReadOnly) ? QString::fromUtf8(page.readAll()) : QString();
}

QString helpTopicText(const QString& id)
{
    return QTextDocumentFragment::fromHtml(helpTopicHtml(id)).toPlainText();
}

QString helpTopicForWindow(const QString& objectName)
{
    static const std::array<std::pair<const char*, const char*>, 11> windows{{
        {"Form1", "okno-glowne"},
        {"Form2", "edycja"},
        {"Form3", "test-pomiarow"},
        {"Form4", "odczyt"},
        {"Form5", "zapis"},
        {"Form6", "bledy"},
        {"Form7", "bledy"},
        {"RecorderWindow", "rejestrator"},
        {"HelpWindow", "pomoc"},
        {"CommonDialog1", "pliki"},
        {"PrintDialog", "wydruk"},
    }};
    for (const auto& [name, topic] : windows)
        if (objectName == QLatin1String(name))
            return QString::fromLatin1(topic);
    return {};
}

QString foldForSearch(const QString& text)
{
    QString folded;
    folded.reserve(text.size());
    for (QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        // "ł" has no decomposition of its own.
        if (c == QChar(0x0141) || c == QChar(0x0142))
            c = QLatin1Char('l');
        folded += c.toLower();
    }
    return folded;
}

QStringList searchWords(const QString& query)
{
    static const QRegularExpression separators(QStringLiteral("[\\s„”\"'.,;:!?()]+"));
    QStringList words = foldForSearch(query).split(separators, Qt::SkipEmptyParts);
    words.removeDuplicates();
    return words;
}

std::vector<HelpHit> searchHelp(const QString& query)
{
    std::vector<HelpHit> hits;
    const QStringList words = searchWords(query);
    if (words.isEmpty())
        return hits;
    for (const HelpTopic& t : kTopics) {
        const QString id = QLatin1String(t.id);
        const QString text = foldForSearch(QString::fromUtf8(t.title) + QLatin1Char('\n') + helpTopicText(id));
        int total = 0;
        bool all = true;
        for (const QString& w : words) {
            const int n = static_cast<int>(text.count(w));
            all = all && n > 0;
            total += n;
        }
        if (all)
            hits.push_back({id, total});
    }
    std::stable_sort(hits.begin(), hits.end(), [](const HelpHit& a, const HelpHit& b) { return a.hits > b.hits; });
    return hits;
}

} // namespace vardel
