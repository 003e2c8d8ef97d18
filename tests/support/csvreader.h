#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// Reads CSV back as RFC 4180 has it: fields split at commas, quoted fields
// may hold commas, doubled quotes and line breaks, records end in CRLF. Kept
// apart from the writer under test so that each checks the other.
inline QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += c, ++i;
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            record << field, field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            record << field, field.clear(), ++i;
            records << record, record.clear();
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !record.isEmpty())
        records << (record << field); // a last record without its line end
    return records;
}

inline QList<QStringList> readCsvFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? parseCsv(QString::fromUtf8(file.readAll()))
                                          : QList<QStringList>{};
}
