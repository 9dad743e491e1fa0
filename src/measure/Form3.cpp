#include "measure/Form3.h"

#include "link/WindowHabits.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vardel {

Form3::Form3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Pomiary testowe"));

    QWidget* contents = scrollingContents(this);
    auto* grid = new QGridLayout(contents);
    grid->setHorizontalSpacing(16);
    for (int box = 1; box <= kMeasureBoxes; ++box) {
        const QString caption = measureCaptionOf(box);
        auto* frame = new QGroupBox(caption, contents);
        frame->setObjectName(QStringLiteral("Frame%1").arg(box));
        auto* text = new QLineEdit(frame);
        text->setObjectName(QStringLiteral("Text%1").arg(box));
        text->setAccessibleName(caption);
        // The program writes the values; there is nothing for the user to type.
        displayOnly(text);
        text->setMinimumWidth(150);
        auto* inner = new QVBoxLayout(frame);
        inner->addWidget(text);
        const BoxPlace place = measurePlaceOf(box);
        grid->addWidget(frame, place.row, place.column);
        m_frames[static_cast<std::size_t>(box)] = frame;
        m_texts[static_cast<std::size_t>(box)] = text;
    }

    m_command1 = new QPushButton(QStringLiteral("Koniec testu"), contents);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAccessibleName(m_command1->text());
    grid->addWidget(m_command1, 4, 1);
    m_paceNote = new QLabel(contents);
    m_paceNote->setObjectName(QStringLiteral("PaceNote"));
    m_paceNote->setWordWrap(true);
    m_paceNote->setStyleSheet(QStringLiteral("color: #b00000"));
    m_paceNote->hide();
    grid->addWidget(m_paceNote, 5, 0, 1, 3);
    // Hidden frames leave their rows empty instead of stretching the others.
    grid->setRowStretch(6, 1);
}

QGroupBox* Form3::frame(int box) const
{
    return box >= 1 && box <= kMeasureBoxes ? m_frames[static_cast<std::size_t>(box)] : nullptr;
}

QLineEdit* Form3::text(int box) const
{
    return box >= 1 && box <= kMeasureBoxes ? m_texts[static_cast<std::size_t>(box)] : nullptr;
}

void Form3::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

} // namespace vardel
