#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

class QLineEdit;
class QListWidget;
class QPushButton;
class QTextBrowser;

namespace vardel {

// „Pomoc”: the user manual inside the program, no browser needed: the
// contents (or, while a search is typed, the topics that hold its words) on
// the left, the topic on the right with the searched words highlighted.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows a topic of the manual (an id of helpTopics()).
    void showTopic(const QString& id);
    QString currentTopic() const { return m_topic; }

    QLineEdit* searchBox() const { return m_search; }
    QListWidget* contents() const { return m_contents; }
    QTextBrowser* browser() const { return m_browser; }

private:
    void listTopics();
    void search();
    void openListed();
    void markListed(const QString& id);
    void highlight();

    QLineEdit* m_search = nullptr;
    QListWidget* m_contents = nullptr;
    QTextBrowser* m_browser = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_close = nullptr;
    QString m_topic;
    bool m_listing = false;
};

// "Pomoc" of the main window and F1 in every window of the program: opens the
// help window on the topic of the window F1 was pressed in. Watches the
// application's keys for F1 while it lives.
class HelpController : public QObject {
    Q_OBJECT
public:
    HelpController();
    ~HelpController() override;

    // The help window on a topic ("okno-glowne", ...); created on first use.
    HelpWindow* showTopic(const QString& id);
    // The topic of `window` (or of the window it belongs to).
    HelpWindow* showFor(const QWidget* window);
    HelpWindow* window() const { return m_window.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void giveBack();

    std::unique_ptr<HelpWindow> m_window;
    QPointer<QWidget> m_lentTo; // the modal dialog the window belongs to meanwhile
};

} // namespace vardel
