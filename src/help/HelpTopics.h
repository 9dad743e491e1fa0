#pragma once

#include <QString>
#include <QUrl>

#include <span>
#include <vector>

namespace vardel {

// The user manual: one page per topic, in Polish, compiled into the program
// (the same pages are installed for a browser). The topics' order is the
// contents' order.
struct HelpTopic {
    const char* id;    // the page's name without .html: "rejestrator"
    const char* title; // "Rejestrator pomiarów"
};
std::span<const HelpTopic> helpTopics();

// Where a topic's page lies among the program's resources ("qrc:/...").
QUrl helpTopicUrl(const QString& id);
// The topic of a page's address; empty for an address outside the manual.
QString helpTopicOfUrl(const QUrl& url);
// The page's text as written (HTML), and as read (plain text).
QString helpTopicHtml(const QString& id);
QString helpTopicText(const QString& id);

// The topic that F1 opens in a window, by the window's object name (Form1,
// Form2 ... RecorderWindow, the file and print dialogs). Empty when unknown.
QString helpTopicForWindow(const QString& objectName);

// Topics that hold every word of `query`, most hits first. Case and Polish
// diacritics do not count ("blad" finds „błąd”).
struct HelpHit {
    QString id;
    int hits;
};
std::vector<HelpHit> searchHelp(const QString& query);

// Lower case without diacritics: what the search compares.
QString foldForSearch(const QString& text);
// The words of a query, folded; empty words left out.
QStringList searchWords(const QString& query);

} // namespace vardel
