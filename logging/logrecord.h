// The data log's file format and its whole-record file writes.
#pragma once

#include <QByteArray>
#include <QString>

namespace quelmar {

struct ReadoutTexts;

// The first line of every log, without its line end.
extern const char kLogHeader[];

// One record: the eight number texts of a readout pass, comma-separated,
// no line end. The energy column is always in milliwatt-hours.
QByteArray logRecord(const ReadoutTexts &t);

// "-" as a path is standard output, for each of these.
//
// Creates or truncates `path` and writes the header line. False when the file
// cannot be opened or the header does not reach it whole.
bool writeLogHeader(const QString &path);

// Opens `path` for appending and writes the header only when the file is
// empty. False when it cannot be opened or the header does not land whole.
bool appendLogHeader(const QString &path);

// Appends `record` and a line end to `path`. The line lands whole or not at
// all: after a failed or short write the file is cut back to its old length.
// False when nothing was written.
bool appendLogRecord(const QString &path, const QByteArray &record);

// The lines `path` holds besides its header: the records of a log, or
// whatever a file that is not a log holds. 0 for a missing file.
int countLogRecords(const QString &path);

} // namespace quelmar
