#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vardel {

// Sequential list input over decoded text, the one rule by which both the
// register names files and the configuration files are read:
//  - blanks before a field are skipped;
//  - a field that starts with a double quote runs to the next double quote,
//    across line ends if need be (to the end of the text if none follows);
//  - any other text field ends at a comma or at the end of the line
//    (CR, LF, or CR LF counts as one line end), which is consumed with it;
//    blanks at its end are dropped, so a names line "Rezerwa   " still marks a
//    reserved register (inside quotes every blank stays);
//  - after the closing quote of a quoted field, whatever stands before the
//    next comma or line end is passed over, and that comma or line end too;
//  - a numeric field ends at a blank, comma or line end; blanks after it are
//    skipped together with one comma or line end that follows them;
//  - an empty line is an empty field (an empty text, or 0).
class ListInput {
public:
    explicit ListInput(QString text);

    bool atEnd() const;
    // nullopt when the input ended before the field.
    std::optional<QString> readTextField();

    enum class Number { Ok, End, Invalid };
    // A decimal number with optional sign, digits with an optional point and
    // an optional exponent (E or D, optional sign, digits). The point is the only
    // decimal separator. Invalid for anything else, and for a number beyond
    // double range (one too small for it reads as 0); the field is passed over
    // either way and value is then left as it was.
    Number readNumberField(double& value);

    // Exactly n characters as they stand (line ends included); nullopt when
    // fewer than n are left.
    std::optional<QString> readChars(int n);
    // Skips one line end (CR LF, CR or LF) if one stands here.
    void skipLineEnd();
    // Passes over every blank, comma and line end that stands here, for files
    // read as "the next number" where an empty line separates values rather
    // than giving a 0.
    void skipSeparators();

    // 1-based line number of the current position, for messages.
    int lineNumber() const;

private:
    bool atLineEnd() const;
    void skipBlanks();

    // Read only through const access: copies of a reader share the text, and
    // a write access would copy all of it (once per field, for a copy kept to
    // name a line).
    QString m_text;
    qsizetype m_pos = 0;
};

// Bytes of a names or configuration file as text. Uses the system's converter
// for Windows-1250 and, where a system has none, a built-in table of the same
// code page, so Polish letters come out right everywhere.
QString decodeWindows1250(const QByteArray& bytes);

} // namespace vardel
