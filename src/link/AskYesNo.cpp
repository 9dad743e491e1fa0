#include "link/AskYesNo.h"

#include <QMessageBox>
#include <QPushButton>

namespace vardel {

bool askYesNo(QWidget* parent, const QString& title, const QString& text, bool yesByDefault)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("Tak"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Nie"), QMessageBox::NoRole);
    yes->setAccessibleName(yes->text());
    no->setAccessibleName(no->text());
    box.setDefaultButton(yesByDefault ? yes : no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace vardel
