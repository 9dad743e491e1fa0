#include "config/Form4.h"

#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "link/ShowNow.h"
#include "link/WindowHabits.h"

#include <QApplication>
#include <QFont>
#include <QPointer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cmath>

namespace vardel {

namespace {

int scaled(double v)
{
    return static_cast<int>(std::lround(v * FractionalProgressBar::kScale));
}

} // namespace

FractionalProgressBar::FractionalProgressBar(QWidget* parent) : QProgressBar(parent)
{
    // The old bar showed no percentage text, only the blocks.
    setTextVisible(false);
    setRange(0, scaled(m_maximum));
    setValue(0);
}

void FractionalProgressBar::setFractionalMaximum(double maximum)
{
    m_maximum = maximum;
    setMaximum(scaled(maximum));
}

void FractionalProgressBar::setFractionalValue(double value)
{
    m_value = value;
    setValue(scaled(value));
}

QString counterText(int n)
{
    return QStringLiteral("   ") + QString::number(n);
}

CounterBox makeCounterBox(QWidget* parent, const QString& caption)
{
    auto* label1 = new QLabel(caption, parent);
    label1->setObjectName(QStringLiteral("Label1"));
    auto* text1 = new QLineEdit(parent);
    text1->setObjectName(QStringLiteral("Text1"));
    text1->setAccessibleName(caption);
    displayOnly(text1);
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8.25);
    text1->setFont(small);
    text1->setFixedWidth(60);
    label1->setBuddy(text1);
    return {text1, label1};
}

Form4::Form4(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Odczyt rejestrów konfiguracyjnych z miernika"));

    m_progress = new FractionalProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));

    const CounterBox counter = makeCounterBox(this, QStringLiteral("Wczytanych rejestrów"));
    m_text1 = counter.text1;
    m_label1 = counter.label1;
    m_progress->setAccessibleName(m_label1->text());

    auto* counterRow = new QHBoxLayout;
    counterRow->addWidget(m_text1);
    counterRow->addWidget(m_label1);
    counterRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_progress);
    layout->addLayout(counterRow);
    resize(420, 90);
    keepWindowHabits(this);
}

Form4::~Form4() = default;

TransferResult Form4::readConfiguration(Module1& link, RegisterTable& table)
{
    // The read runs inside the click, so the window is painted and handed to
    // the window system by hand: before the first exchange and after every
    // register. Timer ticks let through meanwhile find the link busy.
    const Module1::Busy busy(link);
    const QPointer<QWidget> before = QApplication::activeWindow();
    m_progress->setFractionalMaximum(table.RegCount);
    m_progress->setFractionalValue(0.1);
    showNow(this);

    const TransferResult result = ReadConfiguration(link, table, [this](int done, int) {
        m_progress->setFractionalValue(done);
        m_text1->setText(counterText(done));
        paintNow(this);
    });
    hideHandingKeyboardTo(this, before);
    return result;
}

} // namespace vardel
