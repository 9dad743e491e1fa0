#include "files/ConfigFileDialogs.h"

#include "config/ConfigWindows.h"
#include "fileio/FileLocations.h"
#include "config/Form2.h"
#include "config/RegisterTable.h"
#include "files/ConfigFile.h"
#include "link/AskYesNo.h"
#include "link/Module1.h"
#include "link/WindowHabits.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>

namespace vardel {

namespace {

bool hasWildcard(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// Lists folders and the files that match the pattern typed into the name box,
// the way the old Windows dialogs did: "*.KX3" shows only KX-3 files.
class PatternProxy : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setPattern(const QString& pattern)
    {
        m_pattern = QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                       QRegularExpression::CaseInsensitiveOption);
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files || !m_pattern.isValid())
            return true;
        const QModelIndex index = files->index(row, 0, parent);
        return files->isDir(index) || m_pattern.match(files->fileName(index)).hasMatch();
    }

private:
    QRegularExpression m_pattern;
};

// A name typed with a wildcard is a new listing pattern, not an answer.
class PatternFileDialog : public QFileDialog {
public:
    PatternFileDialog(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)
        : QFileDialog(parent, caption, folder, filter)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        m_proxy = new PatternProxy(this);
        setProxyModel(m_proxy);
    }

    void setPattern(const QString& pattern) { m_proxy->setPattern(pattern); }

protected:
    void accept() override
    {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (edit && hasWildcard(edit->text())) {
            setPattern(edit->text().trimmed());
            return;
        }
        QFileDialog::accept();
    }

private:
    PatternProxy* m_proxy = nullptr;
};

QString modelName(const QString& tag)
{
    // "KX3" -> "KX-3"
    return tag.size() == 3 ? tag.left(2) + QLatin1Char('-') + tag.right(1) : tag;
}

} // namespace

ConfigFileDialogs::ConfigFileDialogs(Module1& link, RegisterTable& table, ConfigWindows& windows,
                                     QString programDir, QWidget* parent)
    : m_link(link)
    , m_table(table)
    , m_windows(windows)
    , m_programDir(std::move(programDir))
    , m_parent(parent)
{
    m_choose = [this](const FileRequest& r) { return chooseWithDialog(m_parent, r); };
    m_confirm = [this](const QString& title, const QString& text) {
        return confirmWithMessageBox(m_parent, title, text);
    };
    m_warn = [this](const QString& title, const QString& text) { warnWithMessageBox(m_parent, title, text); };
}

ConfigFileDialogs::FileRequest ConfigFileDialogs::request(bool save) const
{
    FileRequest r;
    r.save = save;
    r.title = save ? QStringLiteral("Zapis danych") : QStringLiteral("Odczyt danych");
    r.filter = save ? QStringLiteral("Pliki *.KX*") : QStringLiteral("Pliki *.Kx*");
    r.folder = fileLocations(m_programDir).startDir;
    r.fileName = QStringLiteral("*.") + m_table.ModelTag;
    if (save)
        r.defaultSuffix = m_table.ModelTag;
    return r;
}

QString ConfigFileDialogs::choose(const FileRequest& r) const
{
    const QString chosen = m_choose ? m_choose(r) : QString();
    // A cancel, or a pattern such as "*.*" instead of a name, ends here.
    if (chosen.isEmpty() || hasWildcard(QFileInfo(chosen).fileName()))
        return {};
    return chosen;
}

// The file does not say which model wrote it; its extension usually does.
// True when the extension names another model than the selected one and the
// user does not want to go on (the question ends with `action`).
bool ConfigFileDialogs::refusesOtherModel(const QString& title, const QString& path, const QString& action) const
{
    const QString suffix = QFileInfo(path).suffix().toUpper();
    const QString selected = modelTagOf(m_link.MeterModel);
    const bool namesModel = suffix == QLatin1String("KX2") || suffix == QLatin1String("KX3")
        || suffix == QLatin1String("KX4");
    return namesModel && !selected.isEmpty() && suffix != selected
        && !m_confirm(title, QStringLiteral("Plik %1 ma rozszerzenie modelu %2, a wybrany jest miernik %3. %4")
                                 .arg(QDir::toNativeSeparators(path), modelName(suffix), modelName(selected), action));
}

void ConfigFileDialogs::Form1_Save_Click()
{
    FileRequest r = request(true);
    QString path;
    // "Nie" to a question brings the dialog back to choose another name;
    // only its own cancel ends the save.
    for (;;) {
        path = choose(r);
        if (path.isEmpty())
            return;
        r.previous = path;
        if (refusesOtherModel(r.title, path, QStringLiteral("Zapisać mimo to?")))
            continue;
        if (QFileInfo::exists(path)
            && !m_confirm(r.title,
                          QStringLiteral("Plik %1 już istnieje. Zastąpić go?").arg(QDir::toNativeSeparators(path))))
            continue;
        break;
    }
    const FileResult result = WriteConfigFile(m_table, path);
    if (!result.ok)
        m_warn(r.title, result.message);
}

void ConfigFileDialogs::Form1_Load_Click()
{
    const FileRequest r = request(false);
    const QString path = choose(r);
    if (path.isEmpty())
        return;
    if (refusesOtherModel(r.title, path, QStringLiteral("Wczytać mimo to?")))
        return;

    const FileResult result = ReadConfigFile(m_table, path);
    if (!result.ok) {
        m_warn(r.title, result.message);
        return;
    }
    // An editor never opened is made here, hidden, with its own first load.
    m_windows.editor()->showDescriptiveFields();
}

QString ConfigFileDialogs::chooseWithDialog(QWidget* parent, const FileRequest& r)
{
    PatternFileDialog dialog(parent, r.title, r.folder, r.filter);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Replacing a file is asked in Polish by the caller.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!r.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(r.defaultSuffix);
    dialog.setPattern(r.fileName);
    if (r.previous.isEmpty()) {
        dialog.selectFile(r.fileName);
    } else {
        const QFileInfo previous(r.previous);
        dialog.setDirectory(previous.absolutePath());
        dialog.selectFile(previous.fileName());
    }
    speakPolish(dialog, r.save);
    // Qt's own size for it (1248 x 849 at 200 %) would run off a 1024 x 768
    // or 1366 x 768 screen: it is cut to the screen, as every window is.
    keepWindowHabits(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void ConfigFileDialogs::speakPolish(QFileDialog& dialog, bool save)
{
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Szukaj w:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Nazwa pliku:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Pliki typu:"));
    dialog.setLabelText(QFileDialog::Accept, save ? QStringLiteral("Zapisz") : QStringLiteral("Otwórz"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Anuluj"));
}

bool ConfigFileDialogs::confirmWithMessageBox(QWidget* parent, const QString& title, const QString& text)
{
    return askYesNo(parent, title, text);
}

void ConfigFileDialogs::warnWithMessageBox(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}

} // namespace vardel
