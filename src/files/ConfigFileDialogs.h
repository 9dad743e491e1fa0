#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QFileDialog;

namespace vardel {

class Module1;
struct RegisterTable;
class ConfigWindows;

// The main window's "Zapis konfiguracji miernika na dysk" and "Odczyt
// konfiguracji miernika z dysku": the file dialog, the questions, the file
// itself and, after a load, the editor's descriptive boxes. The dialogs and
// message boxes go through replaceable hooks; by default they are the real
// (non-native) Qt ones.
class ConfigFileDialogs {
public:
    struct FileRequest {
        bool save = false;
        QString title;    // "Zapis danych" / "Odczyt danych"
        QString filter;   // "Pliki *.KX*" / "Pliki *.Kx*"
        QString folder;   // the program's folder
        QString fileName; // "*." + ModelTag: only the model's files are listed
        QString defaultSuffix; // ModelTag, added to a saved name typed without one
        QString previous; // the name chosen last time, when the dialog is shown again
    };
    // The chosen file, or an empty text when the user cancelled.
    using FileChooser = std::function<QString(const FileRequest&)>;
    // A question with the buttons "Tak" and "Nie"; true for "Tak".
    using Confirm = std::function<bool(const QString& title, const QString& text)>;
    using Warn = std::function<void(const QString& title, const QString& text)>;

    ConfigFileDialogs(Module1& link, RegisterTable& table, ConfigWindows& windows, QString programDir,
                      QWidget* parent);

    void Form1_Save_Click();
    void Form1_Load_Click();

    void setFileChooser(FileChooser chooser) { m_choose = std::move(chooser); }
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
    void setWarn(Warn warn) { m_warn = std::move(warn); }

    // The defaults: a modal QFileDialog, a QMessageBox question and warning.
    static QString chooseWithDialog(QWidget* parent, const FileRequest& request);
    static bool confirmWithMessageBox(QWidget* parent, const QString& title, const QString& text);
    static void warnWithMessageBox(QWidget* parent, const QString& title, const QString& text);
    // The Polish captions of a file dialog's fields and buttons.
    static void speakPolish(QFileDialog& dialog, bool save);

private:
    FileRequest request(bool save) const;
    bool refusesOtherModel(const QString& title, const QString& path, const QString& action) const;
    QString choose(const FileRequest& request) const;

    Module1& m_link;
    RegisterTable& m_table;
    ConfigWindows& m_windows;
    QString m_programDir;
    QPointer<QWidget> m_parent;
    FileChooser m_choose;
    Confirm m_confirm;
    Warn m_warn;
};

} // namespace vardel
