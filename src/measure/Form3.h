#pragma once

#include "measure/MeasureValues.h"

#include <QWidget>

#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vardel {

// "Pomiary testowe": ten frames with one box each in three columns (measured
// inputs, function values, balances) and "Koniec testu" below the function
// column. It has no close box and no system menu; it is created once and only
// shown and hidden, so the last values stay in the boxes between tests.
class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);

    QGroupBox* frame(int box) const; // Frame1..Frame10, box 1..10
    QLineEdit* text(int box) const;  // Text1..Text10
    QPushButton* command1() const { return m_command1; }
    // What the wire allows when one refresh lasts longer than the test's
    // second; hidden otherwise.
    QLabel* paceNote() const { return m_paceNote; }

protected:
    // Only "Koniec testu" or a failed exchange takes the window away; the
    // main window ends the test before it ends the program.
    void closeEvent(QCloseEvent* event) override;

private:
    std::array<QGroupBox*, kMeasureBoxes + 1> m_frames{};
    std::array<QLineEdit*, kMeasureBoxes + 1> m_texts{};
    QPushButton* m_command1 = nullptr;
    QLabel* m_paceNote = nullptr;
};

} // namespace vardel
