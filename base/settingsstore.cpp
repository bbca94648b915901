#include "base/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

#include <sys/stat.h>

namespace {

const auto kApplication = QStringLiteral("Rotavine");

// Keys, values and section names are written with backslash escapes so that any text survives a round trip:
// line breaks, the characters that give a line its meaning ("=", "[", "]", ";", "#") and spaces at either
// end, which a reader of an INI file trims.
QByteArray escape(const QString& text, QLatin1StringView alwaysEscaped, QLatin1StringView escapedFirst)
{
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\')
            out += QLatin1StringView("\\\\");
        else if (c == u'\n')
            out += QLatin1StringView("\\n");
        else if (c == u'\r')
            out += QLatin1StringView("\\r");
        else if (c == u'\t')
            out += QLatin1StringView("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (c == u' ' && (i == 0 || i == text.size() - 1))
            out += QLatin1StringView("\\s");
        else if (alwaysEscaped.contains(c) || (i == 0 && escapedFirst.contains(c)))
            out += u'\\' + QString(c);
        else
            out += c;
    }
    return out.toUtf8();
}

QString unescape(const QByteArray& raw)
{
    const QString text = QString::fromUtf8(raw.trimmed());
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        if (next == u'n')
            out += u'\n';
        else if (next == u'r')
            out += u'\r';
        else if (next == u't')
            out += u'\t';
        else if (next == u's')
            out += u' ';
        else if (next == u'x' && i + 2 < text.size()) {
            bool ok = false;
            const ushort code = text.mid(i + 1, 2).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 2;
            }
            else {
                out += next;
            }
        }
        else {
            out += next;
        }
    }
    return out;
}

QByteArray entryLine(const QString& key, const QString& value)
{
    return escape(key, QLatin1StringView("="), QLatin1StringView("[;#")) + '=' +
           escape(value, QLatin1StringView(), QLatin1StringView());
}

// The position of the first "=" that is not escaped, or -1.
qsizetype separatorIn(const QByteArray& line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == '\\')
            ++i;
        else if (line.at(i) == '=')
            return i;
    }
    return -1;
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultFilePath()) {}

SettingsStore::SettingsStore(const QString& filePath) : m_filePath(QFileInfo(filePath).absoluteFilePath()) {}

QString SettingsStore::defaultFilePath()
{
    const QString overridden = qEnvironmentVariable("ROTAVINE_CONFIG");
    if (!overridden.isEmpty())
        return overridden;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + kApplication +
           u'/' + kApplication + QStringLiteral(".ini");
}

SettingsStore::FileStamp SettingsStore::currentStamp() const
{
    FileStamp stamp;
    struct stat info {};
    if (::stat(QFile::encodeName(m_filePath).constData(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.regular = S_ISREG(info.st_mode);
    stamp.size = info.st_size;
    stamp.inode = info.st_ino;
    stamp.modified =
        QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000);
    return stamp;
}

void SettingsStore::refresh() const
{
    if (currentStamp() == m_loadedStamp)
        return;
    QString ignored;
    if (!loadFromDisk(&ignored))
        m_sections.assign(1, Section{}); // unreadable: every read gives its default
    m_indexValid = false;
}

bool SettingsStore::loadFromDisk(QString* error) const
{
    const FileStamp stamp = currentStamp();
    if (!stamp.exists) {
        m_sections.assign(1, Section{});
        m_indexValid = false;
        m_loadedStamp = stamp;
        return true;
    }
    // A pipe would keep the program waiting for ever, and a device such as /dev/zero would fill its memory.
    if (!stamp.regular) {
        *error = QStringLiteral("The settings file %1 is not a file").arg(m_filePath);
        return false;
    }
    if (stamp.size > kMaxFileBytes) {
        *error = QStringLiteral("The settings file %1 is larger than %2 MiB; it is not read")
                     .arg(m_filePath)
                     .arg(kMaxFileBytes >> 20);
        return false;
    }
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read the settings file %1: %2").arg(m_filePath, file.errorString());
        return false;
    }
    parse(file.read(kMaxFileBytes));
    m_loadedStamp = stamp;
    return true;
}

QString SettingsStore::fileProblem() const
{
    QString error;
    return loadFromDisk(&error) ? QString() : error;
}

void SettingsStore::parse(const QByteArray& content) const
{
    m_indexValid = false;
    m_sections.clear();
    m_sections.push_back(Section{});
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        Line line;
        line.raw = content.mid(start, end - start);
        start = end + 1;

        const QByteArray text = line.raw.trimmed();
        if (text.startsWith('[') && text.endsWith(']') && text.size() >= 2) {
            m_sections.push_back(Section{unescape(text.mid(1, text.size() - 2)), line.raw, {}});
            continue;
        }
        const qsizetype separator = separatorIn(text);
        if (!text.startsWith(';') && !text.startsWith('#') && separator > 0) {
            line.key = unescape(text.left(separator));
            line.value = unescape(text.mid(separator + 1));
        }
        m_sections.back().lines.push_back(std::move(line));
    }
}

QByteArray SettingsStore::serialise() const
{
    QByteArray out;
    for (const Section& section : m_sections) {
        if (!section.header.isEmpty())
            out += section.header + '\n';
        for (const Line& line : section.lines)
            out += line.raw + '\n';
    }
    return out;
}

bool SettingsStore::save()
{
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("Cannot write the settings file %1: %2").arg(m_filePath, file.errorString());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray content = serialise();
    if (file.write(content) != content.size() || !file.commit()) {
        m_error = QStringLiteral("Cannot write the settings file %1: %2").arg(m_filePath, file.errorString());
        file.cancelWriting();
        return false;
    }
    m_loadedStamp = currentStamp();
    return true;
}

template <typename Change>
bool SettingsStore::change(Change&& apply)
{
    m_error.clear();
    const QFileInfo info(m_filePath);
    if (!info.dir().exists()) {
        if (!QDir().mkpath(info.absolutePath())) {
            m_error = QStringLiteral("Cannot create the settings folder %1").arg(info.absolutePath());
            return false;
        }
        QFile::setPermissions(info.absolutePath(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    lock.setStaleLockTime(30 * 1000);
    if (!lock.tryLock(15 * 1000)) {
        m_error =
            QStringLiteral("The settings file %1 is locked by another program; the change was not saved")
                .arg(m_filePath);
        return false;
    }
    QString error;
    if (!loadFromDisk(&error)) {
        m_error = error;
        return false;
    }
    const std::vector<Section> before = m_sections;
    const bool changed = apply();
    m_indexValid = false;
    if (!changed)
        return true; // nothing to change
    if (!save()) {
        m_sections = before;
        return false;
    }
    return true;
}

const SettingsStore::Section* SettingsStore::findSection(const QString& name) const
{
    // Looked up by name rather than walked: a store of thousands of colour rules is read rule by rule. The
    // lines before the first section header belong to no section and are never found by name; of two
    // sections of one name, the first counts.
    if (!m_indexValid) {
        m_index.clear();
        for (std::size_t i = m_sections.size(); i-- > 1;)
            m_index.insert(m_sections[i].name.toCaseFolded(), i);
        m_indexValid = true;
    }
    const auto found = m_index.constFind(name.toCaseFolded());
    return found == m_index.cend() ? nullptr : &m_sections[*found];
}

SettingsStore::Section* SettingsStore::findSection(const QString& name)
{
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

const SettingsStore::Line* SettingsStore::findLine(const Section& section, const QString& key)
{
    for (const Line& line : section.lines) {
        if (!line.key.isEmpty() && sameName(line.key, key))
            return &line;
    }
    return nullptr;
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue) const
{
    refresh();
    const Section* found = findSection(section);
    const Line* line = found ? findLine(*found, key) : nullptr;
    return line ? line->value : defaultValue;
}

int SettingsStore::readInt(const QString& section, const QString& key, int defaultValue, int minimum,
                           int maximum) const
{
    bool ok = false;
    const int value = read(section, key, QString()).trimmed().toInt(&ok);
    return ok && value >= minimum && value <= maximum ? value : defaultValue;
}

double SettingsStore::readDouble(const QString& section, const QString& key, double defaultValue) const
{
    bool ok = false;
    const double value = read(section, key, QString()).trimmed().toDouble(&ok);
    return ok ? value : defaultValue;
}

SettingsStore::Entries SettingsStore::list(const QString& section) const
{
    refresh();
    Entries entries;
    if (const Section* found = findSection(section)) {
        for (const Line& line : found->lines) {
            if (!line.key.isEmpty())
                entries.append({line.key, line.value});
        }
    }
    return entries;
}

bool SettingsStore::hasSection(const QString& section) const
{
    refresh();
    return findSection(section) != nullptr;
}

bool SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    if (key.isEmpty()) {
        m_error = QStringLiteral("A setting needs a name");
        return false;
    }
    return change([&] {
        Section* found = findSection(section);
        if (!found) {
            m_sections.push_back(
                Section{section, '[' + escape(section, QLatin1StringView("[]"), {}) + ']', {}});
            found = &m_sections.back();
        }
        auto line = std::find_if(found->lines.begin(), found->lines.end(),
                                 [&](const Line& l) { return !l.key.isEmpty() && sameName(l.key, key); });
        if (line != found->lines.end()) {
            if (line->value == value)
                return false;
            line->value = value;
            line->raw = entryLine(line->key, value);
            return true;
        }
        // A new key goes after the section's last entry, ahead of any blank lines or comments that end it.
        auto insertAt = found->lines.end();
        while (insertAt != found->lines.begin() && (insertAt - 1)->key.isEmpty())
            --insertAt;
        found->lines.insert(insertAt, Line{key, value, entryLine(key, value)});
        return true;
    });
}

bool SettingsStore::remove(const QString& section)
{
    return change([&] {
        const auto before = m_sections.size();
        std::erase_if(m_sections,
                      [&](const Section& s) { return !s.header.isEmpty() && sameName(s.name, section); });
        return m_sections.size() != before;
    });
}

bool SettingsStore::remove(const QString& section, const QString& key)
{
    return change([&] {
        bool removed = false;
        for (Section& s : m_sections) {
            if (s.header.isEmpty() || !sameName(s.name, section))
                continue;
            removed |= std::erase_if(s.lines, [&](const Line& l) {
                           return !l.key.isEmpty() && sameName(l.key, key);
                       }) > 0;
        }
        return removed;
    });
}
