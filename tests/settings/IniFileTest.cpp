#include "shared/IniFile.h"

#include "tests/settings/OrdinaryUser.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using qdx::IniFile;
using qdx::IniWriteError;
using qdx::test::readAll;
using qdx::test::TempDir;
using qdx::test::writeAll;

namespace {

const QString S = QStringLiteral("sec");

QString readIn(const QByteArray& content, const QString& section, const QString& key,
               const QString& fallback = QStringLiteral("<default>")) {
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return IniFile::lookup(buffer, section, key).value_or(fallback);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

// How a value is found: names without regard to case, values trimmed and unquoted, only lines of
// the right shape in the first section of the name.
TEST(IniFileRead, FindsValuesByTheProfileRules) {
    const QByteArray file = "; a comment=1\n"
                            "top=outside any section\n"
                            "  [ Sec ]  \n"
                            "Alpha = one  \n"
                            "beta=\"  quoted keeps spaces  \"\n"
                            "gamma='single'\n"
                            "delta=\"mismatched'\n"
                            "epsilon=\"\n"
                            ";zeta=commented\n"
                            "junk line without equals\n"
                            "empty=\n"
                            "[other]\n"
                            "alpha=wrong section\n"
                            "[SEC]\n"
                            "late=second section of the same name\n";
    EXPECT_EQ(readIn(file, S, QStringLiteral("ALPHA")), QStringLiteral("one"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("beta")), QStringLiteral("  quoted keeps spaces  "));
    EXPECT_EQ(readIn(file, S, QStringLiteral("gamma")), QStringLiteral("single"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("delta")), QStringLiteral("\"mismatched'"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("epsilon")), QStringLiteral("\""));
    EXPECT_EQ(readIn(file, S, QStringLiteral("zeta")), QStringLiteral("<default>"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("top")), QStringLiteral("<default>"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("empty")), QString()); // present: empty, not default
    EXPECT_EQ(readIn(file, QStringLiteral("other"), QStringLiteral("alpha")),
              QStringLiteral("wrong section"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("late")), QStringLiteral("<default>"));
    EXPECT_EQ(readIn(file, QStringLiteral("missing"), QStringLiteral("alpha")),
              QStringLiteral("<default>"));
}

TEST(IniFileRead, LineEndingsBomAndEncodings) {
    EXPECT_EQ(readIn("\xEF\xBB\xBF[sec]\r\nkey=crlf\r\n", S, QStringLiteral("key")),
              QStringLiteral("crlf"));
    EXPECT_EQ(readIn("[sec]\nkey=no final newline", S, QStringLiteral("key")),
              QStringLiteral("no final newline"));
    EXPECT_EQ(readIn("[sec]\nkey=Fotos \xC3\xA7\xC3\xA3o\n", S, QStringLiteral("key")),
              QStringLiteral("Fotos \u00E7\u00E3o"));
    // A file saved by an older editor in Latin-1 is not turned into replacement characters.
    EXPECT_EQ(readIn("[sec]\nkey=Fotos \xE7\xE3o\n", S, QStringLiteral("key")),
              QStringLiteral("Fotos \u00E7\u00E3o"));
}

TEST(IniFileRead, TextsAreCutAt2047CharactersWithoutSplittingOne) {
    const QString longText(3000, QLatin1Char('x'));
    EXPECT_EQ(readIn("[sec]\nk=" + longText.toUtf8() + "\n", S, QStringLiteral("k")),
              QString(2047, QLatin1Char('x')));
    // A quoted text longer than the limit loses its quotes and is cut.
    EXPECT_EQ(readIn("[sec]\nk=\"" + longText.toUtf8() + "\"\n", S, QStringLiteral("k")),
              QString(2047, QLatin1Char('x')));
    // A character outside the basic plane at the cut is dropped whole.
    const QString emoji = QString(2046, QLatin1Char('a')) + QStringLiteral("\U0001F600tail");
    EXPECT_EQ(readIn("[sec]\nk=" + emoji.toUtf8() + "\n", S, QStringLiteral("k")),
              QString(2046, QLatin1Char('a')));
}

// Hostile files: very long lines, binary junk, a huge quoted value past the kept part of a line.
TEST(IniFileRead, SurvivesHostileContent) {
    QByteArray junk;
    for (int i = 0; i < 200000; ++i)
        junk.append(char((i * 7919) % 256));
    junk.replace('\n', 'n');
    const QByteArray longLine(3 * 1024 * 1024, '[');
    QByteArray file = junk + "\n" + longLine + "\n[sec]\n" + QByteArray(200000, ' ') +
                      "\nkey=found\nquoted=\"" + QByteArray(100000, 'q') + "\"\n";
    EXPECT_EQ(readIn(file, S, QStringLiteral("key")), QStringLiteral("found"));
    EXPECT_EQ(readIn(file, S, QStringLiteral("quoted")), QString(2047, QLatin1Char('q')));
    EXPECT_EQ(readIn(QByteArray("\0\0[sec]\0\nkey\0=1", 16), S, QStringLiteral("key")),
              QStringLiteral("<default>"));
}

// Integers: decimal or 0x hexadecimal within 32 bits; booleans are integers.
TEST(IniFileRead, NumbersAndBooleans) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"10", 10},
        {"0x0A", 10},
        {"0X1f", 31},
        {"-5", -5},
        {"+7", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"0x7FFFFFFF", 2147483647},
        {"2147483648", std::nullopt},
        {"0xFFFFFFFF", std::nullopt},
        {"12abc", std::nullopt},
        {"0x", std::nullopt},
        {"", std::nullopt},
        {"true", std::nullopt},
        {"1.5", std::nullopt},
        {"- 1", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IniFile::parseInteger(QString::fromLatin1(c.text)), c.value) << c.text;

    TempDir dir;
    const QString path = dir.file(QStringLiteral("n.ini"));
    ASSERT_TRUE(writeAll(path, "[sec]\nhex = 0x0A \nword=true\nno=false\nzero=0x0\nneg=-1\n"
                               "blank=\n"));
    const IniFile ini(path);
    EXPECT_EQ(ini.readInteger(S, QStringLiteral("hex"), 1), 10);
    EXPECT_EQ(ini.readInteger(S, QStringLiteral("word"), 7), 7);
    EXPECT_EQ(ini.readInteger(S, QStringLiteral("blank"), 7), 7);
    EXPECT_TRUE(ini.readBool(S, QStringLiteral("word"), true));
    EXPECT_FALSE(ini.readBool(S, QStringLiteral("word"), false));
    EXPECT_TRUE(ini.readBool(S, QStringLiteral("no"), true)); // a word gives the default
    EXPECT_FALSE(ini.readBool(S, QStringLiteral("zero"), true));
    EXPECT_TRUE(ini.readBool(S, QStringLiteral("neg"), false));
    EXPECT_TRUE(ini.readBool(S, QStringLiteral("hex"), false));
}

TEST(IniFileRead, MissingOrUnusableFilesGiveDefaults) {
    TempDir dir;
    EXPECT_EQ(IniFile(dir.file(QStringLiteral("none.ini"))).readInteger(S, QStringLiteral("k"), 5),
              5);
    // A folder, or a FIFO that would block a reader, named like the file.
    QDir(dir.path()).mkdir(QStringLiteral("folder.ini"));
    EXPECT_EQ(IniFile(dir.file(QStringLiteral("folder.ini")))
                  .readString(S, QStringLiteral("k"), QStringLiteral("d")),
              QStringLiteral("d"));
    const QString fifo = dir.file(QStringLiteral("fifo.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(IniFile(fifo).readBool(S, QStringLiteral("k"), true), true);
}

// A write changes one line and keeps every other byte: comments, blank lines, unknown keys, other
// sections, line endings.
TEST(IniFileWrite, ChangesOneLineAndKeepsTheRest) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("config.ini"));
    const QByteArray before = "; settings of the program\r\n"
                              "[first]\r\n"
                              "keep=1 ; not a comment here\r\n"
                              "\r\n"
                              "[Configuracoes]\r\n"
                              "  Numero = 5\r\n"
                              "unknown_key=stays\r\n"
                              "; trailing comment of the section\r\n"
                              "\r\n"
                              "[last]\r\n"
                              "x=y";
    ASSERT_TRUE(writeAll(path, before));
    IniFile ini(path);

    ini.writeInteger(QStringLiteral("configuracoes"), QStringLiteral("numero"), 42);
    QByteArray expected = before;
    expected.replace("  Numero = 5\r\n", "Numero=42\r\n");
    EXPECT_EQ(readAll(path), expected);

    // A new key goes to the end of its section, before the blank line that separates sections.
    ini.writeBool(QStringLiteral("configuracoes"), QStringLiteral("novo"), true);
    expected.replace("; trailing comment of the section\r\n",
                     "; trailing comment of the section\r\nnovo=1\r\n");
    EXPECT_EQ(readAll(path), expected);

    // A key of the last section, whose last line has no line break.
    ini.writeString(QStringLiteral("last"), QStringLiteral("z"), QStringLiteral("w"));
    expected += "\r\nz=w\r\n";
    EXPECT_EQ(readAll(path), expected);

    // A new section at the end, after a blank line.
    ini.writeBool(QStringLiteral("new"), QStringLiteral("flag"), false);
    expected += "\r\n[new]\r\nflag=0\r\n";
    EXPECT_EQ(readAll(path), expected);

    EXPECT_EQ(ini.readInteger(QStringLiteral("CONFIGURACOES"), QStringLiteral("NUMERO"), 0), 42);
    EXPECT_EQ(ini.readString(QStringLiteral("first"), QStringLiteral("keep"), {}),
              QStringLiteral("1 ; not a comment here"));
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("config.ini")}); // no leftovers
}

TEST(IniFileWrite, CreatesTheFileAndRoundTripsAnyText) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("config.ini"));
    IniFile ini(path);
    ini.writeString(S, QStringLiteral("plain"), QStringLiteral("Ctrl+Alt+C"));
    EXPECT_EQ(readAll(path), QByteArray("[sec]\nplain=Ctrl+Alt+C\n"));

    // Texts that reading would otherwise change are stored so that they read back exactly.
    const QStringList texts = {QStringLiteral("  leading and trailing  "),
                               QStringLiteral("\"in quotes\""),
                               QStringLiteral("'single'"),
                               QStringLiteral("\""),
                               QStringLiteral("a = b ; c [d]"),
                               QStringLiteral("/pasta/com espa\u00E7o/"),
                               QStringLiteral("\uFEFFstarts with a byte-order mark"),
                               QString()};
    for (const QString& text : texts) {
        ini.writeString(S, QStringLiteral("text"), text);
        EXPECT_EQ(ini.readString(S, QStringLiteral("text"), QStringLiteral("<default>")), text);
    }
    ini.writeInteger(S, QStringLiteral("min"), INT32_MIN);
    EXPECT_EQ(ini.readInteger(S, QStringLiteral("min"), 0), INT32_MIN);
}

TEST(IniFileWrite, RefusesNamesAndValuesThatWouldBreakTheFile) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("config.ini"));
    ASSERT_TRUE(writeAll(path, "[sec]\nk=v\n"));
    IniFile ini(path);
    EXPECT_THROW(ini.writeString(S, QStringLiteral("k"), QStringLiteral("two\n[lines]")),
                 std::invalid_argument);
    EXPECT_THROW(ini.writeString(S, QStringLiteral("k=x"), QStringLiteral("v")),
                 std::invalid_argument);
    EXPECT_THROW(ini.writeString(S, QStringLiteral(""), QStringLiteral("v")),
                 std::invalid_argument);
    EXPECT_THROW(ini.writeString(QStringLiteral("a]b"), QStringLiteral("k"), QStringLiteral("v")),
                 std::invalid_argument);
    EXPECT_EQ(readAll(path), QByteArray("[sec]\nk=v\n"));
}

TEST(IniFileWrite, KeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    const QString real = dir.file(QStringLiteral("real.ini"));
    const QString link = dir.file(QStringLiteral("config.ini"));
    ASSERT_TRUE(writeAll(real, "[sec]\nk=old\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(real, link));
    IniFile(link).writeString(S, QStringLiteral("k"), QStringLiteral("new"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(real), QByteArray("[sec]\nk=new\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A refused write throws "Unable to write to <path>" and leaves the old file as it was.
TEST(IniFileWrite, RefusedWritesThrowAndLoseNothing) {
    TempDir dir;
    const QByteArray content = "; mine\n[sec]\nk=old\n";

    // A read-only file (refused even for root, whose rights would allow replacing it).
    const QString readOnly = dir.file(QStringLiteral("readonly.ini"));
    ASSERT_TRUE(writeAll(readOnly, content));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    try {
        IniFile(readOnly).writeString(S, QStringLiteral("k"), QStringLiteral("new"));
        ADD_FAILURE() << "the write to a read-only file was not refused";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Unable to write to ") + readOnly);
        EXPECT_EQ(QString::fromStdString(e.what()), e.text());
    }
    EXPECT_EQ(readAll(readOnly), content);

    // A missing folder, and a folder where the file should be.
    const QString missing = dir.file(QStringLiteral("no/such/folder/config.ini"));
    EXPECT_THROW(IniFile(missing).writeBool(S, QStringLiteral("k"), true), IniWriteError);
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("no"))));
    QDir(dir.path()).mkdir(QStringLiteral("folder.ini"));
    EXPECT_THROW(
        IniFile(dir.file(QStringLiteral("folder.ini"))).writeBool(S, QStringLiteral("k"), true),
        IniWriteError);

    // A read-only folder holding a writable file.
    const QString folder = dir.file(QStringLiteral("locked"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    const QString inLocked = folder + QStringLiteral("/config.ini");
    ASSERT_TRUE(writeAll(inLocked, content));
    qdx::test::openToEveryone(dir.path(), 0755);
    qdx::test::openToEveryone(inLocked, 0666);
    qdx::test::openToEveryone(folder, 0555);
    // Beside it, a folder the same user may write into: there the write succeeds.
    const QString open = dir.file(QStringLiteral("open"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("open")));
    qdx::test::openToEveryone(open, 0777);
    const int outcome = qdx::test::asOrdinaryUser([&] {
        try {
            IniFile(open + QStringLiteral("/config.ini"))
                .writeString(S, QStringLiteral("k"), QStringLiteral("new"));
        } catch (...) {
            return 3;
        }
        try {
            IniFile(inLocked).writeString(S, QStringLiteral("k"), QStringLiteral("new"));
            return 1;
        } catch (const IniWriteError& e) {
            return e.text() == QStringLiteral("Unable to write to ") + inLocked ? 0 : 2;
        }
    });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(readAll(inLocked), content);
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("config.ini")});
    qdx::test::openToEveryone(folder, 0755);
}

// The write path works on any device, and what it writes is what the reader finds, whatever
// surrounds it (duplicate sections, keys outside sections, lines without a final break).
TEST(IniFileWrite, ReaderFindsWhatTheWriterWrote) {
    const QByteArray inputs[] = {
        "",
        "k=outside\n",
        "[sec]",
        "[sec]\n[SEC]\nk=in the second\n",
        "[other]\nk=1\n\n\n",
        "[sec]\n\n\n[next]\n",
        QByteArray(70000, 'k') + "=x\n[sec]\n",
        "\xEF\xBB\xBF[sec]\r\nk=1\r\n",
        "[sec\n",
    };
    for (const QByteArray& input : inputs) {
        QBuffer in;
        in.setData(input);
        in.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        ASSERT_TRUE(IniFile::rewrite(in, out, S, QStringLiteral("k"), "written"));
        EXPECT_EQ(readIn(out.data(), S, QStringLiteral("K")), QStringLiteral("written"))
            << input.left(40).toStdString();
        // Everything that was there is still there.
        EXPECT_GE(out.data().size(), input.size());
    }
}
