#pragma once

#include <QString>

#include <optional>

namespace vardel {

// Sequential list input over decoded text, the one rule by which both the
// register names files and the configuration files are read:
//  - blanks before a field are skipped;
//  - a field that starts with a double quote runs to the next double quote;
//  - any other text field ends at a comma or at the end of the line
//    (CR, LF, or CR LF counts as one line end), which is consumed with it;
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
    // an optional exponent (E, optional sign, digits). The point is the only
    // decimal separator.
    Number readNumberField(double& value);

    // Exactly n characters as they stand (line ends included); nullopt when
    // fewer than n are left.
    std::optional<QString> readChars(int n);
    // Skips one line end (CR LF, CR or LF) if one stands here.
    void skipLineEnd();

    // 1-based line number of the current position, for messages.
    int lineNumber() const;

private:
    QString m_text;
    qsizetype m_pos = 0;
};

} // namespace vardel
