#include "shared/SoftwareKey.h"

#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>

#include <gtest/gtest.h>

using qdx::test::readAll;
using qdx::test::TempDir;
using qdx::test::writeAll;

namespace {

// Points the per-user configuration folder at a temporary folder for the test.
class SoftwareKey : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", m_previous); }

    QString file() const { return dir.path() + QStringLiteral("/Quadrix/software.ini"); }

    TempDir dir;

private:
    QByteArray m_previous;
};

const QString kTitle = QStringLiteral("Quadrix");

} // namespace

TEST_F(SoftwareKey, TheSkinValueLivesUnderTheTitleInTheUserFolder) {
    EXPECT_EQ(qdx::softwareKeyFile(), file());
    EXPECT_EQ(
        LerChaveSoftware(kTitle, QStringLiteral("SKIN_SELECIONADA"), TTipoChave::tcInteiro, 0),
        QVariant(0));
    EXPECT_FALSE(QFile::exists(file())); // reading creates nothing

    GravarChaveSoftware(kTitle, QStringLiteral("SKIN_SELECIONADA"), 2, TTipoChave::tcInteiro);
    EXPECT_EQ(readAll(file()), QByteArray("[Software\\Quadrix]\nSKIN_SELECIONADA=2\n"));
    EXPECT_EQ(
        LerChaveSoftware(kTitle, QStringLiteral("SKIN_SELECIONADA"), TTipoChave::tcInteiro, 0),
        QVariant(2));
    // Another title is another key.
    EXPECT_EQ(LerChaveSoftware(QStringLiteral("Other"), QStringLiteral("SKIN_SELECIONADA"),
                               TTipoChave::tcInteiro, 3),
              QVariant(3));
}

TEST_F(SoftwareKey, AllSixKindsRoundTrip) {
    const QDateTime when(QDate(2024, 2, 29), QTime(23, 59, 58, 123));
    const QDateTime early(QDate(1850, 7, 14), QTime(6, 30, 0, 5));
    struct Case {
        const char* name;
        TTipoChave kind;
        QVariant value;
    };
    const Case cases[] = {
        {"texto", TTipoChave::tcTexto, QStringLiteral("  Cinza \"verde\" \u00E7  ")},
        {"vazio", TTipoChave::tcTexto, QString()},
        {"sim", TTipoChave::tcBooleano, true},
        {"nao", TTipoChave::tcBooleano, false},
        {"inteiro", TTipoChave::tcInteiro, -123456},
        {"moeda", TTipoChave::tcMoeda, 1234.5678},
        {"negativa", TTipoChave::tcMoeda, -0.0001},
        {"data", TTipoChave::tcDataHora, when},
        {"serial", TTipoChave::tcDataHoraSerial, when},
        {"antiga", TTipoChave::tcDataHoraSerial, early},
    };
    for (const Case& c : cases)
        GravarChaveSoftware(kTitle, QLatin1StringView(c.name), c.value, c.kind);
    for (const Case& c : cases)
        EXPECT_EQ(LerChaveSoftware(kTitle, QLatin1StringView(c.name), c.kind, QVariant()), c.value)
            << c.name;
}

TEST_F(SoftwareKey, SerialDatesCountDaysSince1899WithTheTimeAsFraction) {
    GravarChaveSoftware(kTitle, QStringLiteral("a"), QDateTime(QDate(2000, 1, 1), QTime(12, 0)),
                        TTipoChave::tcDataHoraSerial);
    GravarChaveSoftware(kTitle, QStringLiteral("b"), QDateTime(QDate(1899, 12, 29), QTime(6, 0)),
                        TTipoChave::tcDataHoraSerial);
    const QByteArray text = readAll(file());
    EXPECT_TRUE(text.contains("\na=36526.5000000000\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nb=-1.2500000000\n")) << text.toStdString();
}

TEST_F(SoftwareKey, MissingOrUnfittingValuesGiveTheDefault) {
    QDir().mkpath(dir.path() + QStringLiteral("/Quadrix"));
    ASSERT_TRUE(writeAll(file(), "[Software\\Quadrix]\nword=verde\nhuge=1e300\nbad=2024-13-45\n"));
    for (TTipoChave kind : {TTipoChave::tcBooleano, TTipoChave::tcInteiro, TTipoChave::tcMoeda,
                            TTipoChave::tcDataHora, TTipoChave::tcDataHoraSerial})
        EXPECT_EQ(LerChaveSoftware(kTitle, QStringLiteral("word"), kind, QStringLiteral("d")),
                  QVariant(QStringLiteral("d")))
            << int(kind);
    EXPECT_EQ(LerChaveSoftware(kTitle, QStringLiteral("huge"), TTipoChave::tcDataHoraSerial, 1),
              QVariant(1));
    EXPECT_EQ(LerChaveSoftware(kTitle, QStringLiteral("bad"), TTipoChave::tcDataHora, 1),
              QVariant(1));
    EXPECT_EQ(LerChaveSoftware(kTitle, QStringLiteral("absent"), TTipoChave::tcTexto, 5),
              QVariant(5));
    EXPECT_THROW(GravarChaveSoftware(kTitle, QStringLiteral("n"), QStringLiteral("verde"),
                                     TTipoChave::tcInteiro),
                 std::invalid_argument);
}

TEST_F(SoftwareKey, ARefusedWriteNamesTheValue) {
    // A file where the folder should be: neither the folder nor the file can be made.
    ASSERT_TRUE(writeAll(dir.path() + QStringLiteral("/Quadrix"), "not a folder"));
    try {
        GravarChaveSoftware(kTitle, QStringLiteral("SKIN_SELECIONADA"), 1, TTipoChave::tcInteiro);
        ADD_FAILURE() << "the write was not refused";
    } catch (const qdx::SoftwareKeyError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Failed to set data for 'SKIN_SELECIONADA'"));
    }
    EXPECT_EQ(
        LerChaveSoftware(kTitle, QStringLiteral("SKIN_SELECIONADA"), TTipoChave::tcInteiro, 0),
        QVariant(0));
    EXPECT_EQ(readAll(dir.path() + QStringLiteral("/Quadrix")), QByteArray("not a folder"));
}
