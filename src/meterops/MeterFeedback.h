#pragma once

#include "link/LinkInterfaces.h"
#include "link/LinkTrace.h" // the bus monitor lives with the link, for both programs

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

namespace vardel {

// The stand-in for Form6 and Form7 without windows: instead of a window it
// remembers which error the link raised first, so the message can name it
// together with the register.
class LinkErrors final : public ErrorWindows {
public:
    enum class Kind { None, Transmit, Receive };

    void showTransmitError() override { raise(Kind::Transmit); }
    void showReceiveError() override { raise(Kind::Receive); }

    Kind first() const { return m_first; }
    int count() const { return m_count; }
    void clear()
    {
        m_first = Kind::None;
        m_count = 0;
    }

    // "Błąd nadawania danych" or "Błąd odbioru danych" (the windows' texts),
    // followed by " (what)" when `what` is given.
    QString message(const QString& what = QString()) const;

private:
    void raise(Kind kind)
    {
        if (m_first == Kind::None)
            m_first = kind;
        ++m_count;
    }

    Kind m_first = Kind::None;
    int m_count = 0;
};

// The progress of read and write on stderr: a bar with "Odczyt rejestrów:
// 12 z 100", redrawn in place. Only on a terminal; anywhere else it writes
// nothing, so that logs and pipes get only what matters.
//
// With `above`, a line of a longer run (program: „Programowanie: 3 z 32
// mierników …”) stands above the bar, and the two are redrawn together; the
// cursor stays at the start of the upper one. Such a display wipes both
// lines when it is done, so that the run's next step or its next result line
// takes their place.
// What is left, rounded up to whole seconds, for a progress line: "40 s",
// "2 min 15 s", "1 h 16 min".
QString timeLeftText(std::chrono::nanoseconds left);

class ProgressDisplay {
public:
    using Writer = std::function<void(const QByteArray& bytes)>;

    // label: "Odczyt rejestrów" or "Zapis rejestrów".
    ProgressDisplay(QString label, bool terminal, Writer writer, const QString* above = nullptr);
    ~ProgressDisplay();

    // A total of 0 draws the label alone (a step that counts nothing). note:
    // said after the count („zostało ok. 2 min 5 s”).
    void update(int done, int total, const QString& note = {});
    // Ends the line the bar stands on (nothing when no bar was drawn); with a
    // line above, wipes both.
    void finish();
    // Wipes the bar off its line, so that a result line can take its place;
    // the next update draws it again.
    void hide();

private:
    QString m_label;
    bool m_terminal;
    Writer m_writer;
    const QString* m_above;
    bool m_drawn = false;
};

} // namespace vardel
