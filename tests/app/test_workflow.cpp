// A technician's round trip through the real windows on the simulated network:
// read a meter, edit it, write it back with the EEPROM store, save it, load it
// again, and find the same values in the meter, in the file and in the editor.

#include "app/Form1.h"
#include "config/ConfigWindows.h"
#include "config/Form2.h"
#include "config/Form5.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "files/ConfigFile.h"
#include "files/ConfigFileDialogs.h"
#include "files/ConfigHistory.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vardel;

namespace {

struct Model {
    std::int16_t model;
    const char* option;
    int address;
    const char* tag;
};

class Workflow : public ::testing::TestWithParam<Model> {};

template <typename T> T* child(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(QLatin1String(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

} // namespace

TEST_P(Workflow, ReadEditWriteSaveLoadAgree)
{
    const Model m = GetParam();
    QTemporaryDir dir;
    for (const char* names : {"KX2_NAME.TXT", "KX3_NAME.TXT", "KX4_NAME.TXT"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(VARDEL_SOURCE_DIR "/data/") + QLatin1String(names),
                                dir.filePath(QLatin1String(names))));
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    Form1 form(link, table, dir.path(), true);
    form.Form_Load();
    const QString history = dir.filePath(QStringLiteral("historia-symulatora"));
    form.setHistoryFolder(history);
    const QString file = dir.filePath(QStringLiteral("miernik.") + QLatin1String(m.tag));
    form.fileDialogs().setFileChooser([&file](const ConfigFileDialogs::FileRequest&) { return file; });
    form.fileDialogs().setConfirm([](const QString&, const QString&) { return true; });
    form.fileDialogs().setWarn([](const QString&, const QString& text) { ADD_FAILURE() << text.toStdString(); });

    child<QRadioButton>(&form, m.option)->click();
    child<QLineEdit>(&form, "Text3")->setText(QString::number(m.address));
    SimMeter* meter = card.meterAt(m.address);
    ASSERT_NE(meter, nullptr);
    ASSERT_EQ(meter->model, m.model);

    // Read: the table holds what the meter holds.
    child<QPushButton>(&form, "Command6")->click();
    for (int r = 0; r < table.RegCount; ++r)
        ASSERT_EQ(table.RegValue[static_cast<std::size_t>(r)], meter->configValue(r)) << r;

    // Edit register 9 (no model reserves it) and the serial number, then "Menu główne".
    child<QPushButton>(&form, "Command7")->click();
    Form2* editor = form.configWindows().editor();
    ASSERT_TRUE(editor->isVisible());
    editor->grid()->setCurrentCell(10, 2);
    editor->Form2_MSFlexGrid1_Click();
    child<QLineEdit>(editor, "Text1")->setText(QStringLiteral("12,5"));
    child<QLineEdit>(editor, "Text3")->setText(QStringLiteral("SN 0042"));
    child<QPushButton>(editor, "Command1")->click();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(table.RegValue[9], 12.5f);
    EXPECT_EQ(table.SerialNo, QStringLiteral("SN 0042"));

    // Write with the EEPROM store; a meter reset then keeps the new value.
    child<QPushButton>(&form, "Command9")->click();
    QWidget* form5 = form.configWindows().writeWindow();
    child<QCheckBox>(form5, "Check1")->click();
    child<QPushButton>(form5, "Command1")->click();
    EXPECT_FALSE(form5->isVisible());
    card.passTime(std::chrono::seconds(5)); // a reset must not cut the store short
    child<QPushButton>(&form, "KxReset")->click();
    for (int r = 0; r < table.RegCount; ++r)
        ASSERT_EQ(meter->configValue(r, true), table.RegValue[static_cast<std::size_t>(r)]) << r;
    EXPECT_EQ(meter->configValue(9), 12.5f);

    // The history has both: what was read, what was written.
    const std::vector<HistoryEntry> kept = ConfigHistory(history).entries();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].kind, HistoryKind::Written);
    EXPECT_EQ(kept[1].kind, HistoryKind::Read);
    EXPECT_EQ(kept[0].address, m.address);
    EXPECT_EQ(kept[0].model, m.model);

    // Save, spoil the table, load: the file brings everything back.
    child<QPushButton>(&form, "Save")->click();
    ASSERT_TRUE(QFile::exists(file));
    const RegisterTable saved = table;
    table.RegValue[9] = 0.0f;
    table.SerialNo.clear();
    child<QPushButton>(&form, "Load")->click();
    for (int r = 0; r < table.RegCount; ++r)
        ASSERT_EQ(table.RegValue[static_cast<std::size_t>(r)], saved.RegValue[static_cast<std::size_t>(r)]) << r;
    EXPECT_EQ(child<QLineEdit>(editor, "Text3")->text(), QStringLiteral("SN 0042"));

    // The editor shows the loaded values.
    child<QPushButton>(&form, "Command7")->click();
    EXPECT_EQ(editor->grid()->item(10, 2)->text(), ValueText(12.5f));
    EXPECT_EQ(ParseValue(editor->grid()->item(table.RegCount, 2)->text()),
              ParseValue(ValueText(meter->configValue(table.RegCount - 1))));
}

INSTANTIATE_TEST_SUITE_P(EachModel, Workflow,
                         ::testing::Values(Model{kModelKX2, "Option1", 1, "KX2"}, Model{kModelKX3, "Option2", 2, "KX3"},
                                           Model{kModelKX4, "Option3", 3, "KX4"}),
                         [](const ::testing::TestParamInfo<Model>& p) { return std::string(p.param.tag); });
