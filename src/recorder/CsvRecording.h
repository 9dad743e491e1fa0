#pragma once

#include <QString>

namespace vardel {

// A recording of refreshes into a CSV file, one line per refresh. The header
// goes in through the program's checked writer (the file is made whole, an
// older file of that name replaced only then); every line after it is
// appended, flushed and synced to the disk before the next refresh, so a
// power cut loses at most the line under way. A line that cannot be written
// whole is cut off again and the recording ends: the file always ends with a
// complete line. Lines end with LF, as on the command line.
class CsvRecording {
public:
    CsvRecording() = default;
    ~CsvRecording();
    CsvRecording(const CsvRecording&) = delete;
    CsvRecording& operator=(const CsvRecording&) = delete;

    // False and a Polish reason when the file cannot be made.
    bool start(const QString& path, const QString& header, QString* error);
    // False and a Polish reason when the line could not be written; the
    // recording has ended then.
    bool append(const QString& line, QString* error);
    // Ends the recording; the file stays as it is.
    void stop();

    bool isRecording() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    long rows() const { return m_rows; } // lines after the header

private:
    int m_fd = -1;
    QString m_path;
    long m_rows = 0;
    long long m_length = 0; // bytes of whole lines in the file
};

} // namespace vardel
