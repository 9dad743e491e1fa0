#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QGroupBox;

namespace vardel {

class Module1;
struct RegisterTable;

// "Edycja rejestrów konfiguracyjnych miernika": the register grid with its
// edit box and the descriptive fields. The window works on text; the table
// changes only at the first load (KX-3 address rule) and at "Menu główne".
class Form2 : public QWidget {
    Q_OBJECT
public:
    // Grid columns and the limits of the two free texts (line breaks count
    // twice, as CR LF, the way the configuration file stores them).
    static constexpr int kColNumber = 0;
    static constexpr int kColName = 1;
    static constexpr int kColValue = 2;
    static constexpr int kCustomerDataMax = 255;
    static constexpr int kRemarksMax = 300;

    Form2(Module1& link, RegisterTable& table, QWidget* parent = nullptr);
    ~Form2() override;

    // First use in the process: model boxes, names, grid with headers and
    // widths, the KX-3 address rule. Runs once; later calls do nothing.
    void Form2_Form_Load();
    bool isLoaded() const { return m_loaded; }

    // What the main window's edit button does to the editor before showing
    // it: model boxes, names, grid refilled from the table (no address rule),
    // the edit boxes naming the current (last) register.
    void refill();

    // Descriptive boxes from the table, in the order a configuration file
    // load sets them (We-3/We-4 only when the model is not KX-2).
    void showDescriptiveFields();

    void Form2_MSFlexGrid1_Click();
    void Form2_Text1_Change();
    void Form2_Text10_Change();
    void Form2_Text11_Change();
    // "Menu główne": grid values and boxes back into the table, then hide.
    void Form2_Command1_Click();

    QTableWidget* grid() const { return m_grid; }

    // The free texts as the table keeps them (CR LF line ends) and as a
    // multi-line box shows them (LF), and the cut to a limit counted in
    // table characters.
    static QString boxToField(const QString& box);
    static QString fieldToBox(const QString& field);
    static QString cutToLimit(const QString& box, int limit);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Marks the grid's current cell as moved by the program itself, not by
    // the user, for as long as it lives.
    class ProgramMove {
    public:
        explicit ProgramMove(bool& flag) : m_flag(flag), m_was(flag) { m_flag = true; }
        ~ProgramMove() { m_flag = m_was; }
        ProgramMove(const ProgramMove&) = delete;
        ProgramMove& operator=(const ProgramMove&) = delete;

    private:
        bool& m_flag;
        bool m_was;
    };

    void buildUi();
    void fillModelBoxes();
    void loadNames();
    // Rows from the table, the last register current, the list at its top;
    // with nameCurrent the edit boxes name the current register.
    void fillGrid(bool addressRule, bool nameCurrent);
    // Steps 1 and 2 of a click: value and register number of the current
    // row into the edit boxes. False when there is no current cell.
    bool fillEditBoxes();
    // The value box says whether the current register can be changed: a
    // "Rezerwa" register's box is read-only, greyed, and tells why.
    void showWhetherEditable();
    // A digit, sign or separator typed in the grid: the value box takes it
    // as the start of the current register's new value. True when used.
    bool startValue(const QString& text);
    // Grid values and boxes into the table (with the KX-3 address rule).
    void storeIntoTable();
    QTableWidgetItem* cell(int row, int column);
    void setCurrentColumn(int column);
    void applyLimit(QPlainTextEdit* box, int limit);

    Module1& m_link;
    RegisterTable& m_table;
    bool m_loaded = false;
    bool m_cutting = false;
    bool m_programMove = false;

    QTableWidget* m_grid = nullptr;
    QLabel* m_namesNote = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QLabel* m_label1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QLabel* m_label2 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QPushButton* m_command1 = nullptr;
    QLineEdit* m_text4 = nullptr;
    QLineEdit* m_text3 = nullptr;
    QLineEdit* m_text9 = nullptr;
    QPlainTextEdit* m_text10 = nullptr;
    QPlainTextEdit* m_text11 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label4 = nullptr;
    QLabel* m_label5 = nullptr;
    QLabel* m_label6 = nullptr;
    QLineEdit* m_text5 = nullptr;
    QLineEdit* m_text6 = nullptr;
    QLineEdit* m_text7 = nullptr;
    QLineEdit* m_text8 = nullptr;
};

} // namespace vardel
