#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <vector>

// The per-user settings store: application "Rotavine" → section → key → text value, kept in an INI file.
//
// Section and key names are matched without regard to letter case, because the program writes and reads some
// keys under different spellings. The stored order of sections and keys is kept (the filter list is the key
// order of one section), and so is every line the store does not understand, byte for byte.
//
// The window and a scheduled run may use one store at the same time, so every write re-reads the file under
// a lock, applies its one change and saves atomically; reads pick up another process's saves.
class SettingsStore {
public:
    using Entries = QList<QPair<QString, QString>>;

    // The store in the platform's configuration folder, or at the path named by ROTAVINE_CONFIG.
    SettingsStore();
    explicit SettingsStore(const QString& filePath);

    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    QString read(const QString& section, const QString& key, const QString& defaultValue) const;
    // Typed reads give the default when the stored text does not convert or lies outside [minimum, maximum];
    // the stored text itself is left as it is.
    int readInt(const QString& section, const QString& key, int defaultValue, int minimum = INT_MIN,
                int maximum = INT_MAX) const;
    double readDouble(const QString& section, const QString& key, double defaultValue) const;

    // The (key, value) pairs of a section in stored order; empty when the section does not exist.
    Entries list(const QString& section) const;
    bool hasSection(const QString& section) const;

    // Each change is saved at once. False when it could not be saved; errorString() then says why, and the
    // file is as it was.
    bool write(const QString& section, const QString& key, const QString& value);
    bool remove(const QString& section);
    bool remove(const QString& section, const QString& key);

    QString errorString() const { return m_error; }

    // Why the file cannot be used as the settings (a pipe, a device, too large, unreadable), or nothing.
    QString fileProblem() const;

    static constexpr qint64 kMaxFileBytes = qint64(16) << 20;

private:
    struct Line {
        QString key; // empty for a line kept as it was (comment, blank line, damaged text)
        QString value;
        QByteArray raw;
    };
    struct Section {
        QString name;
        QByteArray header; // the "[name]" line as stored; empty for the lines before the first section
        std::vector<Line> lines;
    };
    struct FileStamp {
        bool exists = false;
        bool regular = false;
        qint64 size = -1;
        QDateTime modified;
        quint64 inode = 0;
        bool operator==(const FileStamp&) const = default;
    };

    template <typename Change>
    bool change(Change&& apply);

    void refresh() const;
    bool loadFromDisk(QString* error) const;
    void parse(const QByteArray& content) const;
    QByteArray serialise() const;
    bool save();
    FileStamp currentStamp() const;

    const Section* findSection(const QString& name) const;
    Section* findSection(const QString& name);
    static const Line* findLine(const Section& section, const QString& key);

    QString m_filePath;
    QString m_error;
    // The file's content is cached and read again whenever the file changed on disk.
    mutable std::vector<Section> m_sections;
    // Section by its case-folded name, made again after any change to the sections.
    mutable QHash<QString, std::size_t> m_index;
    mutable bool m_indexValid = false;
    mutable FileStamp m_loadedStamp;
};
