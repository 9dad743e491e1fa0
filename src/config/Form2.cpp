#include "config/Form2.h"

#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "link/Module1.h"
#include "link/WindowHabits.h"

#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTextCursor>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace vardel {

namespace {

// A value box entered by a click takes a new value when typed into, as one
// entered by Tab does: its text is selected once the click is over (a drag
// that selected part of it keeps that part).
class SelectOnClick final : public QObject {
public:
    explicit SelectOnClick(QLineEdit* box) : QObject(box), m_box(box) { box->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn && static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
            m_entered = true;
        } else if (event->type() == QEvent::MouseButtonRelease && m_entered) {
            m_entered = false;
            if (!m_box->hasSelectedText())
                m_box->selectAll();
        }
        return false;
    }

private:
    QLineEdit* m_box;
    bool m_entered = false;
};

constexpr int kTwipsPerInch = 1440;
constexpr int kColumnTwips[3] = {600, 4900, 770};

QLineEdit* lineBox(const char* name, const QString& accessible, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(accessible);
    return box;
}

QGroupBox* frame(const char* name, const QString& caption, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QLabel* label(const char* name, const QString& caption, QWidget* parent)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

// The rows that can be stored: never beyond the grid, never beyond the model.
int rowsToStore(int gridRows, int regCount)
{
    return std::clamp(std::min(gridRows - 1, regCount), 0, kRegisterSlots);
}

// A key that begins a number: a digit, a sign or a decimal separator.
bool beginsValue(const QString& text)
{
    return text.size() == 1 && (text[0].isDigit() || QStringLiteral("+-,.").contains(text[0]));
}

// The keyboard reaches only value cells: a move towards the number or name
// of a row lands on the value of that row. Typing the start of a number
// edits the current register, as in a spreadsheet, instead of searching the
// rows for that text.
class RegisterGrid : public QTableWidget {
public:
    using QTableWidget::QTableWidget;

    std::function<bool(const QString&)> onValueTyped;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool plain = !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
        if (plain && beginsValue(event->text()) && onValueTyped && onValueTyped(event->text())) {
            event->accept();
            return;
        }
        QTableWidget::keyPressEvent(event);
    }

    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        const QModelIndex target = QTableWidget::moveCursor(action, modifiers);
        if (!target.isValid() || target.column() == Form2::kColValue)
            return target;
        return model()->index(target.row(), Form2::kColValue);
    }
};

// A text too long for its cell is shown whole in a tooltip.
class CellTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        // The grid line takes the last pixel of the cell.
        const int room = option.rect.width() - 1;
        if (sizeHint(option, index).width() > room) {
            QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                               option.rect);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
};

} // namespace

Form2::Form2(Module1& link, RegisterTable& table, QWidget* parent)
    : QWidget(parent, Qt::Window), m_link(link), m_table(table)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Edycja rejestrów konfiguracyjnych miernika"));
    buildUi();
}

Form2::~Form2() = default;

void Form2::buildUi()
{
    QWidget* contents = scrollingContents(this);
    auto* grid = new RegisterGrid(0, 3, contents);
    grid->onValueTyped = [this](const QString& text) { return startValue(text); };
    m_grid = grid;
    m_grid->setObjectName(QStringLiteral("MSFlexGrid1"));
    m_grid->setAccessibleName(QStringLiteral("Rejestry"));
    m_grid->setItemDelegate(new CellTextDelegate(m_grid));
    // Values are edited only through the edit box below the grid.
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    // Tab leaves the grid for the edit box; the arrows move within it.
    m_grid->setTabKeyNavigation(false);
    m_grid->verticalHeader()->setVisible(false);
    // The column widths are fixed in twips, made for an 8-point face of the
    // old Windows screens. A narrow face of that size shows every value of
    // up to eight characters (-1234567, 123456,7) whole in "Wartość".
    QFont gridFont(QStringLiteral("Liberation Sans Narrow"));
    gridFont.setFamilies({QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                          QStringLiteral("Nimbus Sans Narrow")});
    gridFont.setPointSize(8);
    m_grid->setFont(gridFont);
    m_grid->horizontalHeader()->setFont(gridFont);
    // A bold header over the current cell's column would no longer fit it.
    m_grid->horizontalHeader()->setHighlightSections(false);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 4);
    m_grid->setWordWrap(false);

    m_namesNote = label("NamesNote", QString(), contents);
    m_namesNote->setStyleSheet(QStringLiteral("color: #a00000;"));
    m_namesNote->setHidden(true);

    m_frame1 = frame("Frame1", QStringLiteral("Okno Edycyjne"), contents);
    m_label1 = label("Label1", QStringLiteral("Wartość rejestru"), m_frame1);
    m_text2 = lineBox("Text2", QStringLiteral("Okno Edycyjne"), m_frame1);
    m_text2->setMaximumWidth(70);
    // It only names the register; Tab goes from the grid straight to the value.
    displayOnly(m_text2);
    m_label2 = label("Label2", QStringLiteral("  ="), m_frame1);
    m_text1 = lineBox("Text1", QStringLiteral("Wartość rejestru"), m_frame1);
    new SelectOnClick(m_text1);
    m_text1->setText(QStringLiteral(" "));
    m_label1->setBuddy(m_text1);
    auto* editRow = new QHBoxLayout(m_frame1);
    editRow->addWidget(m_label1);
    editRow->addWidget(m_text2);
    editRow->addWidget(m_label2);
    editRow->addWidget(m_text1, 1);

    m_command1 = new QPushButton(QStringLiteral("Menu główne"), contents);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAccessibleName(m_command1->text());

    auto* frame4 = frame("Frame4", QStringLiteral("Typ miernika"), contents);
    m_text4 = lineBox("Text4", frame4->title(), frame4);
    QFont big(QStringLiteral("Arial"));
    big.setPointSize(14);
    big.setBold(true);
    m_text4->setFont(big);
    m_text4->setAlignment(Qt::AlignCenter);
    displayOnly(m_text4);
    (new QVBoxLayout(frame4))->addWidget(m_text4);

    auto* frame3 = frame("Frame3", QStringLiteral("Numer seryjny miernika"), contents);
    m_text3 = lineBox("Text3", frame3->title(), frame3);
    (new QVBoxLayout(frame3))->addWidget(m_text3);

    auto* frame7 = frame("Frame7", QStringLiteral("Wersja programu"), contents);
    m_text9 = lineBox("Text9", frame7->title(), frame7);
    (new QVBoxLayout(frame7))->addWidget(m_text9);

    auto* frame2 = frame("Frame2", QStringLiteral("Wykonanie wejść"), contents);
    m_label3 = label("Label3", QStringLiteral("We-1"), frame2);
    m_label4 = label("Label4", QStringLiteral("We-2"), frame2);
    m_label5 = label("Label5", QStringLiteral("We-3"), frame2);
    m_label6 = label("Label6", QStringLiteral("We-4"), frame2);
    m_text5 = lineBox("Text5", m_label3->text(), frame2);
    m_text6 = lineBox("Text6", m_label4->text(), frame2);
    m_text7 = lineBox("Text7", m_label5->text(), frame2);
    m_text8 = lineBox("Text8", m_label6->text(), frame2);
    auto* inputs = new QGridLayout(frame2);
    const std::pair<QLabel*, QLineEdit*> rows[] = {
        {m_label3, m_text5}, {m_label4, m_text6}, {m_label5, m_text7}, {m_label6, m_text8}};
    int row = 0;
    for (const auto& [l, box] : rows) {
        l->setBuddy(box);
        inputs->addWidget(l, row, 0);
        inputs->addWidget(box, row, 1);
        ++row;
    }

    auto* frame5 = frame("Frame5", QStringLiteral("Dane odbiorcy"), contents);
    m_text10 = new QPlainTextEdit(frame5);
    m_text10->setObjectName(QStringLiteral("Text10"));
    m_text10->setAccessibleName(frame5->title());
    m_text10->setTabChangesFocus(true);
    (new QVBoxLayout(frame5))->addWidget(m_text10);

    auto* frame6 = frame("Frame6", QStringLiteral("Uwagi dodatkowe"), contents);
    m_text11 = new QPlainTextEdit(frame6);
    m_text11->setObjectName(QStringLiteral("Text11"));
    m_text11->setAccessibleName(frame6->title());
    m_text11->setTabChangesFocus(true);
    (new QVBoxLayout(frame6))->addWidget(m_text11);

    auto* left = new QVBoxLayout;
    left->addWidget(m_namesNote);
    left->addWidget(m_grid, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_frame1, 1);
    bottom->addWidget(m_command1);
    left->addLayout(bottom);

    auto* right = new QVBoxLayout;
    right->addWidget(frame4);
    right->addWidget(frame3);
    right->addWidget(frame7);
    right->addWidget(frame2);
    right->addWidget(frame5, 1);
    right->addWidget(frame6, 1);

    auto* layout = new QHBoxLayout(contents);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);
    resize(860, 600);
    // Escape leaves the editor as its frame does, keeping the edits.
    keepWindowHabits(this, [this] { close(); });

    // Tab follows the screen: grid, value, "Menu główne", then the boxes on the right.
    const QList<QWidget*> tabOrder{m_grid, m_text1, m_command1, m_text4, m_text3, m_text9, m_text5,
                                   m_text6, m_text7, m_text8, m_text10, m_text11};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_grid, &QTableWidget::cellClicked, this, [this](int r, int column) {
        // The number and name columns are fixed: a click there lands on the
        // value of the same row.
        if (column != kColValue)
            m_grid->setCurrentCell(r, kColValue);
        Form2_MSFlexGrid1_Click();
    });
    connect(m_grid, &QTableWidget::currentCellChanged, this, [this](int r, int column, int previousRow, int) {
        // A row picked by the keyboard (arrows, page keys, type-ahead) or by
        // a mouse press is the register the edit boxes name, as after a
        // click; the focus stays where the user has it.
        if (m_programMove || r < 1 || r == previousRow)
            return;
        if (column != kColValue) {
            const ProgramMove move(m_programMove);
            m_grid->setCurrentCell(r, kColValue);
        }
        fillEditBoxes();
    });
    connect(m_text1, &QLineEdit::textChanged, this, [this] { Form2_Text1_Change(); });
    connect(m_text10, &QPlainTextEdit::textChanged, this, [this] { Form2_Text10_Change(); });
    connect(m_text11, &QPlainTextEdit::textChanged, this, [this] { Form2_Text11_Change(); });
    connect(m_command1, &QPushButton::clicked, this, [this] { Form2_Command1_Click(); });
}

QTableWidgetItem* Form2::cell(int row, int column)
{
    QTableWidgetItem* item = m_grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        // Only value cells can be picked by the user; the others are reached
        // by the program alone.
        // The header row is never current, not even by type-ahead.
        Qt::ItemFlags flags = row > 0 ? Qt::ItemIsEnabled : Qt::NoItemFlags;
        if (row > 0 && column == kColValue)
            flags |= Qt::ItemIsSelectable;
        item->setFlags(flags);
        m_grid->setItem(row, column, item);
    }
    return item;
}

void Form2::setCurrentColumn(int column)
{
    const ProgramMove move(m_programMove);
    m_grid->setCurrentCell(m_grid->currentRow(), column, QItemSelectionModel::NoUpdate);
}

void Form2::fillModelBoxes()
{
    const std::int16_t model = m_link.MeterModel;
    if (model < kModelKX2 || model > kModelKX4)
        return;
    m_text4->setText(modelTextOf(model));
    const bool fourInputs = model != kModelKX2;
    for (QWidget* w : {static_cast<QWidget*>(m_label5), static_cast<QWidget*>(m_label6),
                       static_cast<QWidget*>(m_text7), static_cast<QWidget*>(m_text8)})
        w->setHidden(!fourInputs);
}

void Form2::loadNames()
{
    // A missing or short names file must not stop the editor: the names read
    // are used, the others keep their text, and the window says what happened.
    const NamesLoad result = LoadRegisterNames(m_table);
    if (result.ok) {
        m_namesNote->clear();
        m_namesNote->setHidden(true);
    } else {
        m_namesNote->setText(result.message.isEmpty()
                                 ? QStringLiteral("Nie udało się odczytać nazw rejestrów.")
                                 : result.message.simplified());
        m_namesNote->setHidden(false);
    }
}

void Form2::fillGrid(bool addressRule, bool nameCurrent)
{
    const std::int16_t model = m_link.MeterModel;
    const int n = std::clamp(static_cast<int>(m_table.RegCount), 0, kRegisterSlots);
    const ProgramMove move(m_programMove);
    m_grid->setUpdatesEnabled(false);
    m_grid->setRowCount(n + 1);
    if (addressRule && model == kModelKX3)
        m_table.RegValue[0] = static_cast<float>(m_link.MeterAddress);
    for (int i = 1; i <= n; ++i) {
        const auto r = static_cast<std::size_t>(i - 1);
        QTableWidgetItem* number = cell(i, kColNumber);
        number->setText(RegisterNumberText(model, i - 1, number->text()));
        cell(i, kColName)->setText(m_table.RegName[r]);
        cell(i, kColValue)->setText(ValueText(m_table.RegValue[r]));
    }
    m_grid->setUpdatesEnabled(true);
    // The list opens at its top with register 0 current: a value typed at
    // once goes into the register the user sees first, and the edit boxes
    // name it.
    m_grid->setAutoScroll(false);
    m_grid->setCurrentCell(std::min(n, 1), kColValue);
    if (nameCurrent)
        fillEditBoxes();
    showWhetherEditable();
    m_grid->setAutoScroll(true);
    m_grid->scrollToTop();
}

void Form2::Form2_Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    fillModelBoxes();
    loadNames();

    // Row 0 holds the header texts, as the grid's fixed row always did, so
    // that row r + 1 is register r. It stays hidden: the table's own header
    // shows the same texts and does not scroll away.
    const QStringList headers{QStringLiteral("Rejestr"), QStringLiteral("Funkcja rejestru"),
                              QStringLiteral("Wartość")};
    m_grid->setRowCount(std::max(m_grid->rowCount(), 1));
    for (int c = 0; c < 3; ++c)
        cell(0, c)->setText(headers[c]);
    m_grid->setRowHidden(0, true);
    m_grid->setHorizontalHeaderLabels(headers);
    const int dpi = m_grid->logicalDpiX();
    for (int c = 0; c < 3; ++c)
        m_grid->setColumnWidth(c, kColumnTwips[c] * dpi / kTwipsPerInch);
    m_grid->horizontalHeader()->setStretchLastSection(false);
    // The grid is as wide as its columns; the room to its right belongs to
    // the descriptive boxes.
    int width = 2 * m_grid->frameWidth() + m_grid->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < 3; ++c)
        width += m_grid->columnWidth(c);
    m_grid->setMaximumWidth(width);

    fillGrid(true, false);
}

void Form2::refill()
{
    Form2_Form_Load();
    fillModelBoxes();
    loadNames();
    // The current cell is back on register 0: the edit boxes name it, so
    // that a value typed at once lands where the boxes say.
    fillGrid(false, true);
}

void Form2::showDescriptiveFields()
{
    // Touching the boxes of an editor never opened loads it first.
    Form2_Form_Load();
    m_text5->setText(m_table.InVer1);
    m_text6->setText(m_table.InVer2);
    if (m_link.MeterModel != kModelKX2) {
        m_text7->setText(m_table.InVer3);
        m_text8->setText(m_table.InVer4);
    }
    m_text3->setText(m_table.SerialNo);
    m_text9->setText(m_table.ProgVersion);
    m_text10->setPlainText(fieldToBox(m_table.CustomerData));
    m_text11->setPlainText(fieldToBox(m_table.Remarks));
}

void Form2::Form2_MSFlexGrid1_Click()
{
    if (fillEditBoxes()) {
        // Typing then replaces the value, as after Tab.
        m_text1->setFocus();
        m_text1->selectAll();
    }
}

bool Form2::fillEditBoxes()
{
    const int row = m_grid->currentRow();
    if (row < 0 || m_grid->currentColumn() < 0)
        return false;
    m_text1->setText(cell(row, m_grid->currentColumn())->text());
    const int remembered = m_grid->currentColumn();
    setCurrentColumn(kColNumber);
    m_text2->setText(cell(row, kColNumber)->text());
    setCurrentColumn(remembered);
    showWhetherEditable();
    return true;
}

void Form2::showWhetherEditable()
{
    const int row = m_grid->currentRow();
    const bool reserved = row >= 1 && isReservedName(cell(row, kColName)->text());
    if (reserved == m_text1->isReadOnly())
        return;
    const QString why = reserved ? QStringLiteral("Rejestr zarezerwowany („Rezerwa”): wartości nie można zmienić")
                                 : QString();
    m_text1->setReadOnly(reserved);
    m_text1->setToolTip(why);
    m_text1->setAccessibleDescription(why);
    m_text1->setStyleSheet(reserved ? QStringLiteral("QLineEdit { background: palette(window); color: palette(mid); }")
                                    : QString());
}

bool Form2::startValue(const QString& text)
{
    const int row = m_grid->currentRow();
    if (row < 1)
        return false;
    // A reserved register takes nothing; the key is not a search either.
    if (!m_text1->isReadOnly()) {
        m_text1->setFocus();
        m_text1->setText(text);
    }
    return true;
}

void Form2::Form2_Text1_Change()
{
    // Row 0 is the header; before the first fill there is no register row.
    const int row = m_grid->currentRow();
    if (row < 1)
        return;
    setCurrentColumn(kColName);
    if (isReservedName(cell(row, kColName)->text()))
        return;
    setCurrentColumn(kColValue);
    cell(row, kColValue)->setText(m_text1->text());
}

QString Form2::boxToField(const QString& box)
{
    QString field;
    field.reserve(box.size() + box.count(QLatin1Char('\n')));
    for (QChar c : box) {
        if (c == QLatin1Char('\n'))
            field += QLatin1String("\r\n");
        else
            field += c;
    }
    return field;
}

QString Form2::fieldToBox(const QString& field)
{
    QString box = field;
    box.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    box.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return box;
}

QString Form2::cutToLimit(const QString& box, int limit)
{
    int used = 0;
    qsizetype keep = 0;
    for (; keep < box.size(); ++keep) {
        const int cost = box.at(keep) == QLatin1Char('\n') ? 2 : 1;
        if (used + cost > limit)
            break;
        used += cost;
    }
    // Never leave half of a surrogate pair behind.
    if (keep > 0 && keep < box.size() && box.at(keep).isLowSurrogate())
        --keep;
    return box.left(keep);
}

void Form2::applyLimit(QPlainTextEdit* box, int limit)
{
    if (m_cutting)
        return;
    const QString text = box->toPlainText();
    const qsizetype keep = cutToLimit(text, limit).size();
    if (keep == text.size())
        return;
    // Removing the tail through a cursor keeps undo and the caret where the
    // user typed or pasted.
    m_cutting = true;
    QTextCursor tail(box->document());
    tail.setPosition(static_cast<int>(keep));
    tail.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    tail.removeSelectedText();
    m_cutting = false;
}

void Form2::Form2_Text10_Change()
{
    applyLimit(m_text10, kCustomerDataMax);
}

void Form2::Form2_Text11_Change()
{
    applyLimit(m_text11, kRemarksMax);
}

void Form2::Form2_Command1_Click()
{
    storeIntoTable();
    hide();
}

void Form2::closeEvent(QCloseEvent* event)
{
    // The editor has no cancel: closing it by its frame keeps the edits as
    // "Menu główne" does.
    if (m_loaded)
        storeIntoTable();
    event->accept();
}

void Form2::storeIntoTable()
{
    setCurrentColumn(kColValue);
    // After a model change the grid may hold fewer or more rows than the
    // model has registers: store only what both have.
    const int n = rowsToStore(m_grid->rowCount(), m_table.RegCount);
    for (int i = 1; i <= n; ++i)
        m_table.RegValue[static_cast<std::size_t>(i - 1)] = ParseValue(cell(i, kColValue)->text());
    if (n > 0) {
        const ProgramMove move(m_programMove);
        m_grid->setCurrentCell(n, kColValue, QItemSelectionModel::NoUpdate);
    }
    if (m_link.MeterModel == kModelKX3)
        m_table.RegValue[0] = static_cast<float>(m_link.MeterAddress);

    m_table.InVer1 = m_text5->text();
    m_table.InVer2 = m_text6->text();
    if (m_link.MeterModel != kModelKX2) {
        m_table.InVer3 = m_text7->text();
        m_table.InVer4 = m_text8->text();
    }
    m_table.SerialNo = m_text3->text();
    m_table.ProgVersion = m_text9->text();
    m_table.CustomerData = boxToField(m_text10->toPlainText());
    m_table.Remarks = boxToField(m_text11->toPlainText());
}

} // namespace vardel
