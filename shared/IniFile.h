#pragma once

// Settings files of the "[section]" / "key=value" kind, read and written one key at a time.
//
// Reading follows the usual profile rules: section and key names are compared without regard to
// case, the first matching section and the first matching key in it count, a value is trimmed of
// surrounding white space and loses one matching pair of surrounding quotes, and texts are cut at
// 2047 characters. Lines of any other shape (comments, junk) are never matched.
//
// Writing re-reads the file, changes the one line of the key (or adds the key at the end of its
// section, or adds the section at the end of the file) and keeps every other byte as it was. The
// new content goes to a temporary file in the same folder, which is flushed to the disk and then
// renamed over the old file, so the file is always either the old or the new one.

#include "platform/core/Exception.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

class QIODevice;

namespace qdx {

// A write the system refused (read-only file or folder, missing folder, full disk). The text is
// "Unable to write to <path>"; the file on disk is left as it was.
class IniWriteError : public Exception {
public:
    explicit IniWriteError(const QString& path);
    const QString& text() const { return Message(); }
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

class IniFile {
public:
    // The longest text a read returns, in characters.
    static constexpr int kMaxValueLength = 2047;

    explicit IniFile(QString path);
    const QString& path() const { return m_path; }

    // Values of a missing file, section or key are the defaults. A present empty value is an empty
    // text. Integers are decimal or "0x" hexadecimal within 32 bits, anything else the default;
    // booleans are integers, non-zero true.
    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    int32_t readInteger(const QString& section, const QString& key, int32_t defaultValue) const;
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;
    // The text of the key as read, or nothing when it is missing.
    std::optional<QString> readValue(const QString& section, const QString& key) const;

    // Each write reaches the disk before it returns; a refused one throws IniWriteError. Section
    // and key names must not hold line breaks (nor a key "=" or a section "]"), nor a value line
    // breaks: std::invalid_argument. A value that reading would change (surrounding white space
    // or quotes) is written inside double quotes so that it reads back exactly.
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int32_t value);
    void writeBool(const QString& section, const QString& key, bool value);

    // The rules above on any device, for memory buffers and fuzzing.
    // The value of the key as read (trimmed, unquoted, cut), or nothing when it is missing.
    static std::optional<QString> lookup(QIODevice& in, const QString& section, const QString& key);
    // Copies `in` to `out` with the key set to `value` (already in its stored form). `in` must be
    // seekable. False when `out` refuses a write.
    static bool rewrite(QIODevice& in, QIODevice& out, const QString& section, const QString& key,
                        const QByteArray& value);
    // The stored form of a text value (UTF-8, quoted when reading would change it).
    static QByteArray storedForm(const QString& value);
    // The integer a stored text stands for, when it is one.
    static std::optional<int32_t> parseInteger(const QString& text);

private:
    void writeStored(const QString& section, const QString& key, const QByteArray& stored);

    QString m_path;
};

} // namespace qdx
