#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// A profile (INI-format) file, read the way the Windows profile service reads the files that our
// peers write: names compare without regard to letter case, blanks around names and values are
// trimmed, one pair of matching quotes around a value is dropped, the first of two equal sections
// or keys wins, ";" starts a comment line, lines end in CRLF, LF or CR.
//
// The whole file is read when the object is created and kept in memory; writes change that copy,
// and UpdateFile() replaces the file atomically. A missing or unreadable file reads as empty.
// Discarding the object writes nothing: writes that UpdateFile() did not write are dropped.
class TIniFile {
public:
    enum class Mode {
        Open,  // read the existing file; writing keeps its encoding and line ends
        Fresh, // ignore what the file holds now: UpdateFile() writes a new file from scratch
    };

    explicit TIniFile(const QString& FileName, Mode OpenMode = Mode::Open);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const QString& FileName() const;

    // At most 2047 characters; Default only when the key is absent.
    QString ReadString(const QString& Section, const QString& Ident, const QString& Default) const;
    // Integer text; Default when absent, empty or not integer text.
    int ReadInteger(const QString& Section, const QString& Ident, int Default) const;
    // Strict locale number text; Default when absent, empty or not convertible.
    double ReadFloat(const QString& Section, const QString& Name, double Default) const;
    // Every section name, in file order.
    void ReadSections(QStringList& Strings) const;
    // The key names of a section, in file order, each once (the first of equal keys).
    void ReadSection(const QString& Section, QStringList& Strings) const;
    bool SectionExists(const QString& Section) const;
    bool ValueExists(const QString& Section, const QString& Ident) const;

    void WriteString(const QString& Section, const QString& Ident, const QString& Value);
    void WriteInteger(const QString& Section, const QString& Ident, int Value);
    void WriteFloat(const QString& Section, const QString& Name, double Value);

    // Writes the document to the file, atomically. Raises EIniFileException
    // "Unable to write to %s" with the full path; the file that was there is then untouched.
    void UpdateFile();

private:
    struct Data;
    std::unique_ptr<Data> d;
};
