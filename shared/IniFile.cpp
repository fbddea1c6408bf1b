#include "shared/IniFile.h"

#include "platform/core/ReplaceableFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdx {

namespace {

// The first bytes of a line kept for parsing. Section and key names are short, and a text value
// is cut at 2047 characters (at most 4 bytes each), so nothing that can match is lost; the rest of
// a longer line is skipped over without being held in memory.
constexpr int kMaxHead = 64 * 1024;
constexpr qint64 kChunk = 64 * 1024;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One line of the file: where it lies and its first kMaxHead bytes (without the line break).
struct Line {
    qint64 start = 0;
    qint64 next = 0; // start of the following line
    QByteArray head;
    bool truncated = false;
    bool hasEol = false;
    bool crlf = false;
    char lastNonSpace = 0; // of the whole line, 0 when it is blank
};

// Reads a device line by line in fixed-size chunks, whatever the length of its lines.
class LineReader {
public:
    explicit LineReader(QIODevice& device) : m_device(device) {}

    bool failed() const { return m_failed; }

    bool next(Line& line) {
        if (m_pos >= m_buffer.size() && !fill())
            return false;
        line.start = m_offset + m_pos;
        line.head.clear();
        line.truncated = false;
        line.hasEol = false;
        line.crlf = false;
        line.lastNonSpace = 0;
        bool lastWasCr = false;
        for (;;) {
            if (m_pos >= m_buffer.size() && !fill())
                break;
            const char* data = m_buffer.constData() + m_pos;
            const qsizetype available = m_buffer.size() - m_pos;
            const char* newline = static_cast<const char*>(std::memchr(data, '\n', available));
            const qsizetype take = newline ? newline - data : available;
            const qsizetype room = kMaxHead - line.head.size();
            if (take > room) {
                line.head.append(data, room);
                line.truncated = true;
            } else {
                line.head.append(data, take);
            }
            for (qsizetype i = take; i > 0; --i) {
                if (!isSpace(data[i - 1])) {
                    line.lastNonSpace = data[i - 1];
                    break;
                }
            }
            if (take > 0)
                lastWasCr = data[take - 1] == '\r';
            m_pos += take;
            if (newline) {
                ++m_pos;
                line.hasEol = true;
                line.crlf = lastWasCr;
                break;
            }
        }
        line.next = m_offset + m_pos;
        if (line.crlf && !line.truncated)
            line.head.chop(1);
        return true;
    }

private:
    bool fill() {
        if (m_failed)
            return false;
        m_offset += m_buffer.size();
        m_buffer.resize(kChunk);
        const qint64 n = m_device.read(m_buffer.data(), kChunk);
        if (n < 0) {
            m_failed = true;
            m_buffer.clear();
            m_pos = 0;
            return false;
        }
        m_buffer.resize(n);
        m_pos = 0;
        return n > 0;
    }

    QIODevice& m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_offset = 0;
    bool m_failed = false;
};

// Text of the file: UTF-8, or Latin-1 for bytes that are not UTF-8 (files edited by older tools).
// An incomplete character at the end (a cut line) is dropped.
QString decode(QByteArrayView bytes) {
    // A byte-order mark inside a value is part of it (the file's own one is skipped by parse()).
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QByteArrayView trimmed(QByteArrayView bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isSpace(bytes[begin]))
        ++begin;
    while (end > begin && isSpace(bytes[end - 1]))
        --end;
    return bytes.sliced(begin, end - begin);
}

enum class LineKind { Other, Section, Key };

struct Parsed {
    LineKind kind = LineKind::Other;
    QByteArrayView name;  // section or key name, trimmed
    QByteArrayView value; // key value, trimmed (left-trimmed only for a cut line)
    bool complete = true; // false when the name runs past the kept head
};

Parsed parse(const Line& line) {
    Parsed p;
    QByteArrayView head(line.head);
    if (line.start == 0 && head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    const QByteArrayView text = trimmed(head);
    if (text.startsWith('[')) {
        p.kind = LineKind::Section;
        const qsizetype close = text.indexOf(']');
        p.name = trimmed(close < 0 ? text.sliced(1) : text.sliced(1, close - 1));
        p.complete = close >= 0 || !line.truncated;
        return p;
    }
    const qsizetype equals = text.indexOf('=');
    if (equals < 0)
        return p; // a comment, a blank line or junk; a cut line without "=" is no key we look for
    p.kind = LineKind::Key;
    p.name = trimmed(text.first(equals));
    QByteArrayView value = text.sliced(equals + 1);
    if (line.truncated) {
        while (!value.isEmpty() && isSpace(value.front()))
            value = value.sliced(1);
    } else {
        value = trimmed(value);
    }
    p.value = value;
    return p;
}

bool nameIs(const Parsed& p, const QString& name) {
    return p.complete && decode(p.name).compare(name, Qt::CaseInsensitive) == 0;
}

bool isBlank(const Line& line) {
    return line.lastNonSpace == 0 && !line.truncated;
}

// The value as the reader returns it: one matching pair of quotes removed, cut at the limit.
QString valueText(const Line& line, const Parsed& p) {
    QByteArrayView value = p.value;
    if (!value.isEmpty() && (value.front() == '"' || value.front() == '\'')) {
        if (line.truncated) {
            // The closing quote lies beyond the kept head.
            if (line.lastNonSpace == value.front())
                value = value.sliced(1);
        } else if (value.size() >= 2 && value.back() == value.front()) {
            value = value.sliced(1, value.size() - 2);
        }
    }
    QString text = decode(value);
    if (text.size() > IniFile::kMaxValueLength) {
        qsizetype cut = IniFile::kMaxValueLength;
        if (text.at(cut - 1).isHighSurrogate())
            --cut; // never leave half a character
        text.truncate(cut);
    }
    return text;
}

// Copies `count` bytes (or everything to the end when negative) from `in` to `out`.
bool copyBytes(QIODevice& in, QIODevice& out, qint64 count) {
    QByteArray buffer(kChunk, Qt::Uninitialized);
    while (count != 0) {
        const qint64 want = count < 0 ? kChunk : std::min(count, kChunk);
        const qint64 n = in.read(buffer.data(), want);
        if (n < 0)
            return false;
        if (n == 0)
            return count < 0;
        if (out.write(buffer.constData(), n) != n)
            return false;
        if (count > 0)
            count -= n;
    }
    return true;
}

// Owns a file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }
    // Closes now, reporting whether the close succeeded (a late write error shows here).
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Removes a temporary file unless it was renamed into place.
class TemporaryName {
public:
    explicit TemporaryName(QByteArray path) : m_path(std::move(path)) {}
    ~TemporaryName() {
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    const QByteArray& path() const { return m_path; }
    void release() { m_path.clear(); }

private:
    QByteArray m_path;
};

void requireValidName(const QString& name, bool isKey) {
    for (QChar c : name)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            throw std::invalid_argument("A settings name cannot hold a line break");
    if (isKey) {
        if (name.isEmpty() || name.trimmed() != name || name.contains(QLatin1Char('=')) ||
            name.startsWith(QLatin1Char('[')))
            throw std::invalid_argument("Not a usable settings key: " + name.toStdString());
    } else if (name.contains(QLatin1Char(']')) || name.trimmed() != name) {
        throw std::invalid_argument("Not a usable settings section: " + name.toStdString());
    }
}

} // namespace

IniWriteError::IniWriteError(const QString& path)
    : Exception(QStringLiteral("Unable to write to %1").arg(path)), m_path(path) {}

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

std::optional<QString> IniFile::lookup(QIODevice& in, const QString& section, const QString& key) {
    LineReader reader(in);
    Line line;
    bool inSection = false;
    while (reader.next(line)) {
        const Parsed p = parse(line);
        if (p.kind == LineKind::Section) {
            if (inSection)
                return std::nullopt; // only the first section of that name counts
            inSection = nameIs(p, section);
        } else if (inSection && p.kind == LineKind::Key && nameIs(p, key)) {
            return valueText(line, p);
        }
    }
    return std::nullopt;
}

bool IniFile::rewrite(QIODevice& in, QIODevice& out, const QString& section, const QString& key,
                      const QByteArray& value) {
    // First pass: where the new line goes.
    LineReader reader(in);
    Line line;
    QByteArray eol;
    bool inSection = false;
    bool sectionFound = false;
    bool replacing = false;
    Line anchor;         // the line after which a new key goes (header or last non-blank line)
    Line last;           // the last line of the file
    QByteArray keyBytes; // the key as the file spells it, when replacing
    bool any = false;
    while (reader.next(line)) {
        any = true;
        if (eol.isEmpty() && line.hasEol)
            eol = line.crlf ? QByteArray("\r\n") : QByteArray("\n");
        last = line;
        const Parsed p = parse(line);
        if (p.kind == LineKind::Section) {
            if (inSection)
                break; // end of the first matching section: the key goes before this line
            if (!sectionFound && nameIs(p, section)) {
                inSection = sectionFound = true;
                anchor = line;
            }
        } else if (inSection) {
            if (p.kind == LineKind::Key && nameIs(p, key)) {
                replacing = true;
                keyBytes = p.name.toByteArray();
                anchor = line;
                break;
            }
            if (!isBlank(line))
                anchor = line;
        }
    }
    if (reader.failed())
        return false;
    if (eol.isEmpty())
        eol = "\n";

    qint64 cut = 0;
    qint64 resume = 0;
    QByteArray text;
    if (replacing) {
        cut = anchor.start;
        resume = anchor.next;
        text = keyBytes + '=' + value;
        if (anchor.hasEol)
            text += anchor.crlf ? QByteArray("\r\n") : QByteArray("\n");
    } else if (sectionFound) {
        cut = resume = anchor.next;
        if (!anchor.hasEol)
            text += eol;
        text += key.toUtf8() + '=' + value + eol;
    } else {
        cut = resume = any ? last.next : 0;
        if (any && !last.hasEol)
            text += eol;
        if (any && !isBlank(last))
            text += eol; // a blank line between the sections
        text += '[' + section.toUtf8() + ']' + eol + key.toUtf8() + '=' + value + eol;
    }

    // Second pass: everything before, the new text, everything after.
    if (!in.seek(0))
        return false;
    if (!copyBytes(in, out, cut))
        return false;
    if (out.write(text) != text.size())
        return false;
    if (!in.seek(resume))
        return false;
    return copyBytes(in, out, -1);
}

QByteArray IniFile::storedForm(const QString& value) {
    const QByteArray bytes = value.toUtf8();
    if (bytes.isEmpty())
        return bytes;
    const char first = bytes.front();
    const char last = bytes.back();
    const bool changedByReading =
        isSpace(first) || isSpace(last) ||
        (bytes.size() >= 2 && first == last && (first == '"' || first == '\''));
    return changedByReading ? '"' + bytes + '"' : bytes;
}

std::optional<int32_t> IniFile::parseInteger(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i + 1 < text.size() && text[i] == QLatin1Char('0') &&
        (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    const int64_t limit = negative ? int64_t(1) << 31 : (int64_t(1) << 31) - 1;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    return int32_t(negative ? -magnitude : magnitude);
}

std::optional<QString> IniFile::readValue(const QString& section, const QString& key) const {
    // Only a regular file is read: a FIFO or device named like the settings would block or never
    // end.
    if (!QFileInfo(m_path).isFile())
        return std::nullopt;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return lookup(file, section, key);
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    return readValue(section, key).value_or(defaultValue);
}

int32_t IniFile::readInteger(const QString& section, const QString& key,
                             int32_t defaultValue) const {
    const std::optional<QString> text = readValue(section, key);
    if (!text)
        return defaultValue;
    return parseInteger(*text).value_or(defaultValue);
}

bool IniFile::readBool(const QString& section, const QString& key, bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        throw std::invalid_argument("The value of " + key.toStdString() +
                                    " cannot hold a line break");
    writeStored(section, key, storedForm(value));
}

void IniFile::writeInteger(const QString& section, const QString& key, int32_t value) {
    writeStored(section, key, QByteArray::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value) {
    writeStored(section, key, value ? QByteArray("1") : QByteArray("0"));
}

void IniFile::writeStored(const QString& section, const QString& key, const QByteArray& stored) {
    requireValidName(section, false);
    requireValidName(key, true);

    // A symbolic link stays a link: the file it points at is the one replaced.
    const QString target = qdx::replacedFilePath(m_path);
    const QByteArray targetName = QFile::encodeName(target);

    struct stat old {};
    const bool exists = ::stat(targetName.constData(), &old) == 0;
    if (exists) {
        // A file without write permission is a read-only settings file: it is left alone even
        // when the folder would allow replacing it (and even for root).
        if (!qdx::mayReplaceFile(target))
            throw IniWriteError(m_path);
    }

    QFile source(target);
    QBuffer empty;
    QIODevice* in = &empty;
    if (exists) {
        if (!source.open(QIODevice::ReadOnly))
            throw IniWriteError(m_path);
        in = &source;
    } else {
        empty.open(QIODevice::ReadOnly);
    }

    // The temporary file lies beside the target so that the rename cannot cross file systems.
    const QFileInfo targetInfo(target);
    const QByteArray folder = QFile::encodeName(targetInfo.absolutePath());
    const QByteArray baseName = QFile::encodeName(targetInfo.fileName());
    UniqueFd fd;
    QByteArray temporaryPath;
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
        temporaryPath = folder + "/." + baseName + '.' +
                        QByteArray::number(QRandomGenerator::global()->generate(), 16);
        fd.reset(::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() < 0 && errno != EEXIST)
            break;
    }
    if (fd.get() < 0)
        throw IniWriteError(m_path);
    TemporaryName temporary(temporaryPath);
    // Keep the old file's permissions and, where allowed, its owner.
    qdx::keepPermissionsOf(target, fd.get());

    {
        QFile out;
        if (!out.open(fd.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            throw IniWriteError(m_path);
        if (!rewrite(*in, out, section, key, stored) || !out.flush())
            throw IniWriteError(m_path);
    }
    if (::fsync(fd.get()) != 0 || !fd.close())
        throw IniWriteError(m_path);
    if (::rename(temporary.path().constData(), targetName.constData()) != 0)
        throw IniWriteError(m_path);
    temporary.release();

    // Make the rename itself durable.
    UniqueFd directory(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        (void)::fsync(directory.get());
}

} // namespace qdx
