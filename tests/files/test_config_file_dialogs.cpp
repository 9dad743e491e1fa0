#include "files/ConfigFileDialogs.h"

#include "config/ConfigWindows.h"
#include "config/Form2.h"
#include "config/RegisterTable.h"
#include "files/ConfigFile.h"
#include "link/Module1.h"
#include "support/TestFiles.h"
#include "support/FakePort.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace vardel;

namespace {

using vardel::test::readBytes;

QString fixture(const char* name)
{
    return QStringLiteral(VARDEL_TEST_DATA "/") + QLatin1String(name);
}

// Runs check on the first modal window that comes up while action runs.
void whenModalAppears(const std::function<void(QWidget*)>& check)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            check(modal);
        }
    });
    timer->start();
}

struct Calls {
    QList<ConfigFileDialogs::FileRequest> requests;
    QStringList questions;
    QStringList warnings;
};

class FileDialogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* names : {"KX2_NAME.TXT", "KX3_NAME.TXT", "KX4_NAME.TXT"})
            QFile::copy(QStringLiteral(VARDEL_SOURCE_DIR "/data/") + QLatin1String(names),
                        dir.filePath(QLatin1String(names)));
        link.MeterAddress = 7;
        select(kModelKX3);
        table.RegValue[0] = 99.0f;
        table.SerialNo = QStringLiteral("przed");
    }

    void select(std::int16_t model) { selectModel(link, table, model, dir.path()); }

    // Hooks that answer as told and remember what was asked.
    void answer(QString chosen, bool yes = true)
    {
        dialogs.setFileChooser([this, chosen](const ConfigFileDialogs::FileRequest& r) {
            calls.requests.append(r);
            return chosen;
        });
        dialogs.setConfirm([this, yes](const QString&, const QString& text) {
            calls.questions.append(text);
            return yes;
        });
        dialogs.setWarn([this](const QString&, const QString& text) { calls.warnings.append(text); });
    }

    // The dialog answers each name in turn, then is cancelled; the questions
    // are answered in turn, then with "Nie".
    void answerInTurn(QStringList chosen, QList<bool> replies)
    {
        dialogs.setFileChooser([this, chosen](const ConfigFileDialogs::FileRequest& r) mutable {
            calls.requests.append(r);
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        });
        dialogs.setConfirm([this, replies](const QString&, const QString& text) mutable {
            calls.questions.append(text);
            return !replies.isEmpty() && replies.takeFirst();
        });
        dialogs.setWarn([this](const QString&, const QString& text) { calls.warnings.append(text); });
    }

    QString boxText(const char* name) const
    {
        Form2* editor = windows.editorIfLoaded();
        if (!editor)
            return QStringLiteral("<brak edytora>");
        if (auto* line = editor->findChild<QLineEdit*>(QLatin1String(name)))
            return line->text();
        if (auto* text = editor->findChild<QPlainTextEdit*>(QLatin1String(name)))
            return text->toPlainText();
        return QStringLiteral("<brak pola>");
    }

    QTemporaryDir dir;
    test::FakePort port;
    Module1 link{port};
    RegisterTable table;
    ConfigWindows windows{link, table};
    ConfigFileDialogs dialogs{link, table, windows, dir.path(), nullptr};
    Calls calls;
};

} // namespace

TEST_F(FileDialogsTest, DialogsAreSetUpForTheSelectedModel)
{
    answer(QString());
    dialogs.Form1_Save_Click();
    select(kModelKX4);
    dialogs.Form1_Load_Click();
    ASSERT_EQ(calls.requests.size(), 2);
    const auto& save = calls.requests[0];
    EXPECT_TRUE(save.save);
    EXPECT_EQ(save.title, QStringLiteral("Zapis danych"));
    EXPECT_EQ(save.filter, QStringLiteral("Pliki *.KX*"));
    EXPECT_EQ(save.folder, dir.path());
    EXPECT_EQ(save.fileName, QStringLiteral("*.KX3"));
    const auto& load = calls.requests[1];
    EXPECT_FALSE(load.save);
    EXPECT_EQ(load.title, QStringLiteral("Odczyt danych"));
    EXPECT_EQ(load.filter, QStringLiteral("Pliki *.Kx*"));
    EXPECT_EQ(load.fileName, QStringLiteral("*.KX4"));
}

TEST_F(FileDialogsTest, CancelOrPatternAnswerChangesNothing)
{
    for (const QString& chosen : {QString(), dir.filePath(QStringLiteral("*.*")), dir.filePath(QStringLiteral("*.KX3"))}) {
        answer(chosen);
        dialogs.Form1_Save_Click();
        dialogs.Form1_Load_Click();
    }
    EXPECT_TRUE(calls.questions.isEmpty());
    EXPECT_TRUE(calls.warnings.isEmpty());
    EXPECT_EQ(table.RegValue[0], 99.0f);
    EXPECT_EQ(table.SerialNo, QStringLiteral("przed"));
    EXPECT_EQ(windows.editorIfLoaded(), nullptr);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.KX*")}, QDir::Files), QStringList());
}

TEST_F(FileDialogsTest, SaveAsksBeforeReplacingAFile)
{
    const QString path = dir.filePath(QStringLiteral("m.KX3"));
    answer(path);
    dialogs.Form1_Save_Click();
    EXPECT_TRUE(calls.questions.isEmpty());
    const QByteArray first = readBytes(path);
    ASSERT_FALSE(first.isEmpty());

    // "Nie" brings the dialog back, showing the name chosen, for another one.
    table.SerialNo = QStringLiteral("po");
    const QString other = dir.filePath(QStringLiteral("n.KX3"));
    calls.requests.clear();
    answerInTurn({path, other}, {false});
    dialogs.Form1_Save_Click();
    EXPECT_EQ(calls.questions, QStringList{QStringLiteral("Plik %1 już istnieje. Zastąpić go?").arg(path)});
    ASSERT_EQ(calls.requests.size(), 2);
    EXPECT_EQ(calls.requests[1].previous, path);
    EXPECT_EQ(readBytes(path), first);
    EXPECT_TRUE(readBytes(other).startsWith("po\r\n"));

    // "Nie", then the dialog's own cancel: nothing is written.
    table.SerialNo = QStringLiteral("jeszcze inny");
    answerInTurn({path}, {false});
    dialogs.Form1_Save_Click();
    EXPECT_EQ(readBytes(path), first);

    answer(path, true);
    dialogs.Form1_Save_Click();
    EXPECT_TRUE(readBytes(path).startsWith("jeszcze inny\r\n"));
    EXPECT_TRUE(calls.warnings.isEmpty());
}

TEST_F(FileDialogsTest, SaveAsksWhenTheExtensionNamesAnotherModel)
{
    // KX-3 selected, a name for a KX-2 file: "Nie" returns to the dialog,
    // "Tak" saves; an existing file is then asked about too.
    const QString path = dir.filePath(QStringLiteral("inny.KX2"));
    const QString question =
        QStringLiteral("Plik %1 ma rozszerzenie modelu KX-2, a wybrany jest miernik KX-3. Zapisać mimo to?").arg(path);
    answerInTurn({path, path}, {false, true});
    dialogs.Form1_Save_Click();
    EXPECT_EQ(calls.questions, (QStringList{question, question}));
    EXPECT_EQ(calls.requests.size(), 2);
    EXPECT_TRUE(readBytes(path).startsWith("przed\r\n"));

    calls.questions.clear();
    table.SerialNo = QStringLiteral("po");
    answerInTurn({path}, {true, true});
    dialogs.Form1_Save_Click();
    EXPECT_EQ(calls.questions,
              (QStringList{question, QStringLiteral("Plik %1 już istnieje. Zastąpić go?").arg(path)}));
    EXPECT_TRUE(readBytes(path).startsWith("po\r\n"));
}

TEST_F(FileDialogsTest, FailuresAreShownAsWarnings)
{
    const QString badSave = dir.filePath(QStringLiteral("brak/m.KX3"));
    answer(badSave);
    dialogs.Form1_Save_Click();
    ASSERT_EQ(calls.warnings.size(), 1);
    EXPECT_TRUE(calls.warnings[0].startsWith(QStringLiteral("Nie można zapisać pliku %1: ").arg(badSave)));

    const QString shortFile = dir.filePath(QStringLiteral("krotki.KX3"));
    QFile f(shortFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(readBytes(fixture("golden.KX3")).left(100));
    f.close();
    answer(shortFile);
    dialogs.Form1_Load_Click();
    ASSERT_EQ(calls.warnings.size(), 2);
    EXPECT_EQ(calls.warnings[1],
              QStringLiteral("Nie można wczytać pliku %1: plik kończy się przed końcem danych").arg(shortFile));
    EXPECT_EQ(table.SerialNo, QStringLiteral("przed"));
    EXPECT_EQ(windows.editorIfLoaded(), nullptr);
}

TEST_F(FileDialogsTest, LoadWarnsWhenTheExtensionNamesAnotherModel)
{
    // A KX-3 file under a KX-4 name, with the KX-3 meter selected.
    const QString path = dir.filePath(QStringLiteral("inny.kx4"));
    ASSERT_TRUE(QFile::copy(fixture("golden.KX3"), path));
    const QString question =
        QStringLiteral("Plik %1 ma rozszerzenie modelu KX-4, a wybrany jest miernik KX-3. Wczytać mimo to?").arg(path);

    answer(path, false);
    dialogs.Form1_Load_Click();
    EXPECT_EQ(calls.questions, QStringList{question});
    EXPECT_EQ(table.SerialNo, QStringLiteral("przed"));
    EXPECT_EQ(windows.editorIfLoaded(), nullptr);

    answer(path, true);
    dialogs.Form1_Load_Click();
    EXPECT_EQ(table.SerialNo, QString());

    // The model's own extension, or one naming no model, asks nothing.
    calls.questions.clear();
    for (const char* name : {"wlasny.Kx3", "bez_modelu.cfg"}) {
        ASSERT_TRUE(QFile::copy(fixture("golden.KX3"), dir.filePath(QLatin1String(name))));
        answer(dir.filePath(QLatin1String(name)));
        dialogs.Form1_Load_Click();
    }
    EXPECT_TRUE(calls.questions.isEmpty());
    EXPECT_TRUE(calls.warnings.isEmpty());
}

TEST_F(FileDialogsTest, LoadFillsTheEditorBoxesAndTheFirstLoadAppliesTheAddressRule)
{
    answer(fixture("golden.KX3"));
    dialogs.Form1_Load_Click();
    Form2* editor = windows.editorIfLoaded();
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->isVisible());
    // The editor's first load put the network address over the file's 12.5.
    EXPECT_EQ(table.RegValue[0], 7.0f);
    EXPECT_EQ(table.RegValue[1], 0.25f);
    EXPECT_EQ(boxText("Text3"), QString());

    // With the editor there already, register 0 keeps the file's value.
    dialogs.Form1_Load_Click();
    EXPECT_EQ(table.RegValue[0], 12.5f);

    select(kModelKX4);
    answer(fixture("golden.KX4"));
    dialogs.Form1_Load_Click();
    EXPECT_TRUE(calls.warnings.isEmpty());
    EXPECT_EQ(boxText("Text3"), QStringLiteral("Nr 12, seria A"));
    EXPECT_EQ(boxText("Text9"), QStringLiteral("  3.0"));
    EXPECT_EQ(boxText("Text5"), QStringLiteral("ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ"));
    EXPECT_EQ(boxText("Text7"), QStringLiteral("x "));
    EXPECT_EQ(boxText("Text8"), QStringLiteral("Pt1000"));
    EXPECT_EQ(boxText("Text10"), QStringLiteral("Elektrownia \"Pątnów\"\nul. Kolejowa 5, 62-510"));
    EXPECT_EQ(boxText("Text11"), QStringLiteral("Linia 1\nLinia 2\n"));
}

// The real dialog, driven offscreen: it lists only the model's files, a
// pattern typed as the name only changes the listing, and a name saves.
TEST_F(FileDialogsTest, RealSaveDialogListsTheModelsFiles)
{
    for (const char* name : {"a.KX3", "b.KX4", "c.kx3", "d.txt"}) {
        QFile f(dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QByteArray before = readBytes(dir.filePath(QStringLiteral("a.KX3")));

    QStringList listedFirst;
    QStringList listedAfterPattern;
    QString title;
    QStringList filters;
    const auto listed = [](QFileDialog* d) {
        QStringList names;
        auto* view = d->findChild<QListView*>(QStringLiteral("listView"));
        if (!view)
            return names;
        for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
            names.append(view->model()->index(i, 0, view->rootIndex()).data().toString());
        names.sort();
        return names;
    };
    whenModalAppears([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        if (!d) {
            ADD_FAILURE() << "no file dialog";
            w->close();
            return;
        }
        title = d->windowTitle();
        filters = d->nameFilters();
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed(d).size() == 2; }, 3000));
        listedFirst = listed(d);
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
            ADD_FAILURE() << "no name box";
            d->reject();
            return;
        }
        name->setText(QStringLiteral("*.*"));
        QMetaObject::invokeMethod(d, "accept");
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed(d).size() == 3; }, 3000));
        listedAfterPattern = listed(d);
        name->setText(QStringLiteral("nowy"));
        QMetaObject::invokeMethod(d, "accept");
    });
    dialogs.Form1_Save_Click();

    EXPECT_EQ(title, QStringLiteral("Zapis danych"));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Pliki *.KX*")});
    EXPECT_EQ(listedFirst, (QStringList{QStringLiteral("a.KX3"), QStringLiteral("c.kx3")}));
    // "*.*" widens the listing to every file of the type filter.
    EXPECT_EQ(listedAfterPattern,
              (QStringList{QStringLiteral("a.KX3"), QStringLiteral("b.KX4"), QStringLiteral("c.kx3")}));
    // Typed without an extension, the name gets the model's.
    EXPECT_TRUE(readBytes(dir.filePath(QStringLiteral("nowy.KX3"))).startsWith("przed\r\n"));
    EXPECT_EQ(readBytes(dir.filePath(QStringLiteral("a.KX3"))), before);
}

TEST_F(FileDialogsTest, RealDialogCancelAndPolishQuestion)
{
    whenModalAppears([](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        EXPECT_NE(d, nullptr);
        if (d) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Odczyt danych"));
        }
        w->close();
    });
    dialogs.Form1_Load_Click();
    EXPECT_EQ(table.SerialNo, QStringLiteral("przed"));

    QStringList buttons;
    whenModalAppears([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            ADD_FAILURE() << "no message box";
            w->close();
            return;
        }
        for (QAbstractButton* b : box->buttons())
            buttons.append(b->text());
        for (QAbstractButton* b : box->buttons())
            if (b->text() == QStringLiteral("Tak"))
                b->click();
    });
    EXPECT_TRUE(ConfigFileDialogs::confirmWithMessageBox(nullptr, QStringLiteral("Odczyt danych"), QStringLiteral("?")));
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("Nie"), QStringLiteral("Tak")}));
}
