#include "help/HelpWindow.h"

#include "help/HelpTopics.h"
#include "link/ShowNow.h"
#include "link/WindowHabits.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vardel {

namespace {

// A word as the page may write it: any case, and each letter that has a
// Polish form with or without its diacritic.
QRegularExpression pattern(const QString& foldedWord)
{
    static const QHash<QChar, QString> polish{
        {QLatin1Char('a'), QStringLiteral("aą")}, {QLatin1Char('c'), QStringLiteral("cć")},
        {QLatin1Char('e'), QStringLiteral("eę")}, {QLatin1Char('l'), QStringLiteral("lł")},
        {QLatin1Char('n'), QStringLiteral("nń")}, {QLatin1Char('o'), QStringLiteral("oó")},
        {QLatin1Char('s'), QStringLiteral("sś")}, {QLatin1Char('z'), QStringLiteral("zźż")},
    };
    QString re;
    for (QChar c : foldedWord) {
        const auto forms = polish.constFind(c);
        re += forms != polish.constEnd() ? QLatin1Char('[') + *forms + QLatin1Char(']')
                                         : QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(re, QRegularExpression::CaseInsensitiveOption);
}

QString titleOf(const QString& id)
{
    for (const HelpTopic& t : helpTopics())
        if (id == QLatin1String(t.id))
            return QString::fromUtf8(t.title);
    return {};
}

} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Pomoc — Vardel"));

    auto* searchLabel = new QLabel(QStringLiteral("Szukaj"), this);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("Search"));
    m_search->setAccessibleName(searchLabel->text());
    m_search->setPlaceholderText(QStringLiteral("słowa do znalezienia"));
    m_search->setClearButtonEnabled(true);
    searchLabel->setBuddy(m_search);

    m_contents = new QListWidget(this);
    m_contents->setObjectName(QStringLiteral("Contents"));
    m_contents->setAccessibleName(QStringLiteral("Spis treści"));

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("Browser"));
    m_browser->setAccessibleName(QStringLiteral("Treść pomocy"));
    m_browser->setOpenExternalLinks(false);

    m_back = new QPushButton(QStringLiteral("Wstecz"), this);
    m_back->setObjectName(QStringLiteral("Back"));
    m_back->setAccessibleName(m_back->text());
    m_back->setEnabled(false);
    m_close = new QPushButton(QStringLiteral("Zamknij"), this);
    m_close->setObjectName(QStringLiteral("Close"));
    m_close->setAccessibleName(m_close->text());

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(searchLabel);
    leftLayout->addWidget(m_search);
    leftLayout->addWidget(m_contents, 1);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(left);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 640});
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addStretch();
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    resize(920, 620);

    setTabOrder(m_search, m_contents);
    setTabOrder(m_contents, m_browser);
    setTabOrder(m_browser, m_back);
    setTabOrder(m_back, m_close);
    keepWindowHabits(this, [this] { close(); });

    connect(m_search, &QLineEdit::textChanged, this, [this] { search(); });
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        if (m_contents->count() > 0) {
            m_contents->setCurrentRow(0);
            openListed();
        }
    });
    connect(m_contents, &QListWidget::currentRowChanged, this, [this] {
        if (!m_listing)
            openListed();
    });
    // A click on the topic already marked opens it too (the page may have
    // moved on by a link since it was marked).
    connect(m_contents, &QListWidget::itemClicked, this, [this] { openListed(); });
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
        m_topic = helpTopicOfUrl(url);
        // A followed link or "Wstecz" moves the contents with the page.
        markListed(m_topic);
        highlight();
    });
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QPushButton::setEnabled);
    connect(m_back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    listTopics();
}

void HelpWindow::listTopics()
{
    m_listing = true;
    m_contents->clear();
    for (const HelpTopic& t : helpTopics()) {
        auto* item = new QListWidgetItem(QString::fromUtf8(t.title), m_contents);
        item->setData(Qt::UserRole, QString::fromLatin1(t.id));
    }
    m_listing = false;
}

void HelpWindow::search()
{
    if (searchWords(m_search->text()).isEmpty()) {
        listTopics();
        highlight();
        return;
    }
    m_listing = true;
    m_contents->clear();
    const std::vector<HelpHit> hits = searchHelp(m_search->text());
    for (const HelpHit& h : hits) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(titleOf(h.id)).arg(h.hits), m_contents);
        item->setData(Qt::UserRole, h.id);
    }
    if (hits.empty()) {
        auto* none = new QListWidgetItem(QStringLiteral("Nie znaleziono"), m_contents);
        none->setFlags(Qt::NoItemFlags);
    }
    m_listing = false;
    highlight();
}

void HelpWindow::openListed()
{
    const QListWidgetItem* item = m_contents->currentItem();
    const QString id = item ? item->data(Qt::UserRole).toString() : QString();
    if (!id.isEmpty() && id != m_topic)
        showTopic(id);
}

void HelpWindow::showTopic(const QString& id)
{
    if (titleOf(id).isEmpty())
        return;
    m_browser->setSource(helpTopicUrl(id));
    markListed(id);
}

void HelpWindow::markListed(const QString& id)
{
    // The contents follow the page, without opening it a second time; a
    // page the list does not hold (a search's other hits) leaves none marked.
    m_listing = true;
    m_contents->setCurrentRow(-1);
    for (int i = 0; i < m_contents->count(); ++i) {
        if (m_contents->item(i)->data(Qt::UserRole).toString() == id) {
            m_contents->setCurrentRow(i);
            break;
        }
    }
    m_listing = false;
}

void HelpWindow::highlight()
{
    QList<QTextEdit::ExtraSelection> marks;
    QTextDocument* doc = m_browser->document();
    for (const QString& word : searchWords(m_search->text())) {
        const QRegularExpression re = pattern(word);
        for (QTextCursor c = doc->find(re); !c.isNull(); c = doc->find(re, c)) {
            QTextEdit::ExtraSelection mark;
            mark.cursor = c;
            mark.format.setBackground(QColor(255, 230, 120));
            marks << mark;
        }
    }
    m_browser->setExtraSelections(marks);
    if (!marks.isEmpty())
        m_browser->setTextCursor(QTextCursor(marks.first().cursor.block()));
}

HelpController::HelpController()
{
    qApp->installEventFilter(this);
}

HelpController::~HelpController()
{
    qApp->removeEventFilter(this);
}

HelpWindow* HelpController::showTopic(const QString& id)
{
    if (!m_window)
        m_window = std::make_unique<HelpWindow>();
    // A modal dialog blocks every window but its own: help asked for over
    // one belongs to it until it closes, so that it can be read meanwhile.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != m_window.get() && m_window->parentWidget() != modal) {
        m_window->setParent(modal, Qt::Window);
        m_lentTo = modal;
    }
    m_window->showTopic(id);
    bringBack(m_window.get());
    return m_window.get();
}

HelpWindow* HelpController::showFor(const QWidget* window)
{
    QString topic;
    for (const QWidget* w = window; w && topic.isEmpty(); w = w->parentWidget())
        topic = helpTopicForWindow(w->window()->objectName());
    return showTopic(topic.isEmpty() ? QStringLiteral("okno-glowne") : topic);
}

void HelpController::giveBack()
{
    // Back to a window of its own before the dialog goes (with its children).
    const bool shown = m_window->isVisible();
    const QRect at = m_window->geometry();
    m_window->setParent(nullptr, Qt::Window);
    m_lentTo = nullptr;
    m_window->setGeometry(at);
    if (shown)
        m_window->show();
}

bool HelpController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && m_lentTo && watched == m_lentTo.data() && m_window) {
        giveBack();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier)
        return false;
    // A key press reaches the focus widget first; the one of its window
    // decides the topic.
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    showFor(widget->window());
    return true;
}

} // namespace vardel
