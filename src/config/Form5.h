#pragma once

#include "config/ConfigTransfer.h"
#include "config/LinkGuard.h"
#include "config/StoreProof.h"

#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vardel {

class Module1;
struct RegisterTable;
class FractionalProgressBar;

// "Zapis rejestrów konfiguracyjnych do miernika": writes the register table
// to the meter, with the EEPROM store when "Zapis do EEprom-u" was ticked in
// this opening. A table that would move the meter off the link in use is
// written only after the user says so; once stored, the window offers to
// restart the meter and take the main window's link there with it.
class Form5 : public QWidget {
    Q_OBJECT
public:
    // A question with "Tak" and "Nie"; true for "Tak".
    using Ask = std::function<bool(const QString& title, const QString& text, bool yesByDefault)>;
    using Warn = std::function<void(const QString& title, const QString& text)>;

    // eepromFlag is the program's EepromFlag (0 / -1); the window keeps it.
    Form5(Module1& link, const RegisterTable& table, std::int16_t& eepromFlag, QWidget* parent = nullptr);
    ~Form5() override;

    // Main window button: untick, EepromFlag 0, show with an empty counter.
    void Form1_Command9_Click();
    void Form5_Check1_Click();
    // Start-up: "Zapis do EEprom-u" unticked while the window stays hidden.
    void untickEeprom();
    // "Zapisz": the write, then hide. Refuses to start while a write runs.
    void Form5_Command1_Click();
    // "Zakończ".
    void Form5_Command2_Click();

    // One register write request (the reply is awaited separately).
    void Kx_Reg_Write(std::int16_t r, float value);

    // The main window's link parameters set to where the meter answers
    // (without it, nothing is offered after a write that moves the meter).
    void setLinkFollower(std::function<void(const MeterLink&)> follow) { m_follow = std::move(follow); }
    // Names a meter found answering where a write would move this one
    // (without it, its model as the model check tells it).
    void setMeterIdentifier(IdentifyMeter identify) { m_identify = std::move(identify); }
    // Told after every complete write (the history keeps it).
    void setWrittenHandler(std::function<void()> written) { m_written = std::move(written); }
    // The defaults: message boxes over this window.
    void setAsk(Ask ask) { m_ask = std::move(ask); }
    void setWarn(Warn warn) { m_warn = std::move(warn); }

    // Where a meter whose new link was stored will answer after its next
    // reset, when the user declined to reset it at once; the next
    // „Reset miernika” takes it (and says so), once.
    std::optional<MeterLink> takeLinkAfterReset();

    bool isWriting() const { return m_writing; }
    const TransferResult& lastResult() const { return m_lastResult; }
    void setEepromPause(std::chrono::milliseconds pause) { m_pause = pause; }

    FractionalProgressBar* progressBar() const { return m_progress; }
    QLineEdit* counter() const { return m_text1; }

    // What the window waits for after the write, or empty.
    QLabel* waitNote() const { return m_state; }

private:
    // The guard's question and refusals; the guard when the write may go on.
    std::optional<LinkGuard> askAboutLink();
    void offerToFollow(const LinkGuard& guard);
    // Shows a wait of the meter in the bar and the note, in seconds.
    void showWait(const QString& what, std::chrono::nanoseconds waited, std::chrono::nanoseconds bound);

    Module1& m_link;
    const RegisterTable& m_table;
    std::int16_t& m_eepromFlag;
    std::chrono::milliseconds m_pause = kEepromPause;
    bool m_writing = false;
    TransferResult m_lastResult;
    std::function<void(const MeterLink&)> m_follow;
    std::function<void()> m_written;
    IdentifyMeter m_identify;
    std::optional<MeterLink> m_linkAfterReset;
    Ask m_ask;
    Warn m_warn;

    FractionalProgressBar* m_progress = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_state = nullptr;
    QCheckBox* m_check1 = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
};

} // namespace vardel
