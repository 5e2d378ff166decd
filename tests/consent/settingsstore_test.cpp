// The host's settings store against real files in the test's own folder.
#include "cznsettings.h"
#include "hostfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace
{
const CZnString section("cip");

OdResBufPtr intValue(int v)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(v);
    return rb;
}

OdResBufPtr textValue(const QString& v)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtString);
    rb->setString(CZnString(v).toOdString());
    return rb;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(data), data.size());
}

// The stored value's type, or 0 when nothing is stored.
int typeAt(const CZnSettings& s, const CZnString& sec, const char* key)
{
    OdResBufPtr v = s.GetValue(sec, CZnString(key), 0);
    return v ? v->restype() : 0;
}

int intAt(const CZnSettings& s, const char* key)
{
    OdResBufPtr v = s.GetValue(section, CZnString(key), 1);
    return v ? v->getInt32() : -999;
}

QString textAt(const CZnSettings& s, const char* key)
{
    OdResBufPtr v = s.GetValue(section, CZnString(key), 4);
    return v ? CZnString(v->getString()).toQString() : QStringLiteral("<none>");
}

class SettingsStore : public HostFixture
{
protected:
    QString file() const { return path(QStringLiteral("store/settings.ini")); }
};
} // namespace

TEST_F(SettingsStore, ValuesComeBackFromDiskWithTheirTypes)
{
    const QString awkward =
        QStringLiteral(" lead\\ and=\"semi;colon\"\n[not a header]\r\tend \x01 \u00e9\u4e2d ");
    {
        CZnSettings s(file());
        s.SetValue(section, CZnString("CIPCONTROL"), intValue(1));
        s.SetValue(section, CZnString("NEGATIVE"), intValue(-2147483647 - 1));
        s.SetValue(section, CZnString("CIPBUILDS"), textValue(awkward));
        OdResBufPtr d = OdResBuf::newRb(OdResBuf::kRtDouble);
        d->setDouble(0.1);
        s.SetValue(CZnString("other"), CZnString("ratio"), d);
        // Names that would break a naive INI line.
        s.SetValue(CZnString("we[ir]d = ; #"), CZnString(" k=%;[x] "), textValue(QStringLiteral("v")));
        s.SetValue(section, CZnString("EMPTY"), textValue(QString()));
    }
    CZnSettings again(file());
    EXPECT_EQ(typeAt(again, section, "CIPCONTROL"), OdResBuf::kRtInt32);
    EXPECT_EQ(intAt(again, "CIPCONTROL"), 1);
    EXPECT_EQ(intAt(again, "NEGATIVE"), -2147483647 - 1);
    EXPECT_EQ(typeAt(again, section, "CIPBUILDS"), OdResBuf::kRtString);
    EXPECT_EQ(textAt(again, "CIPBUILDS"), awkward);
    OdResBufPtr ratio = again.GetValue(CZnString("other"), CZnString("ratio"), 0);
    ASSERT_TRUE(ratio);
    EXPECT_DOUBLE_EQ(ratio->getDouble(), 0.1);
    EXPECT_TRUE(again.HasValue(CZnString("we[ir]d = ; #"), CZnString(" k=%;[x] ")));
    EXPECT_TRUE(again.HasValue(section, CZnString("EMPTY")));
    EXPECT_EQ(textAt(again, "EMPTY"), QString());
    EXPECT_FALSE(again.HasValue(section, CZnString("cipcontrol"))) << "keys are case-sensitive";
    EXPECT_TRUE(again.CanStore());
}

TEST_F(SettingsStore, ReadersGetCopiesAndTheValueAsStoredWhateverKindTheyAskFor)
{
    CZnSettings s(file());
    OdResBufPtr mine = intValue(1);
    s.SetValue(section, CZnString("CIPCONTROL"), mine);
    mine->setInt32(7);
    OdResBufPtr theirs = s.GetValue(section, CZnString("CIPCONTROL"), 1);
    ASSERT_TRUE(theirs);
    theirs->setInt32(9);
    EXPECT_EQ(intAt(s, "CIPCONTROL"), 1);

    s.SetValue(section, CZnString("CIPCONTROL"), textValue(QStringLiteral("1")));
    EXPECT_EQ(typeAt(s, section, "CIPCONTROL"), OdResBuf::kRtString);
    EXPECT_EQ(intAt(s, "CIPCONTROL"), 0) << "a mistyped read gives the type's zero";
    EXPECT_EQ(typeAt(CZnSettings(file()), section, "CIPCONTROL"), OdResBuf::kRtString);

    s.SetValue(section, CZnString("CIPCONTROL"), OdResBufPtr());
    EXPECT_TRUE(s.HasValue(section, CZnString("CIPCONTROL"))) << "a null value stores nothing";
    s.RemoveValue(section, CZnString("CIPCONTROL"));
    EXPECT_FALSE(s.HasValue(section, CZnString("CIPCONTROL")));
    EXPECT_FALSE(CZnSettings(file()).HasValue(section, CZnString("CIPCONTROL")));
}

TEST_F(SettingsStore, LinesItCannotReadAreIgnoredAndKeptByteForByte)
{
    static const char text[] = "\xEF\xBB\xBF; written by hand\r\n"
                               "[cip]\r\n"
                               "CIPCONTROL=5010:1\r\n"
                               "CIPCONFIRM=50\r\n"            // cut short
                               "CIPBUILDS=;21.2.1\r\n"        // no type
                               "STRAY=5010:12abc\n"           // not a number
                               "BADESCAPE=5005:C:\\Users\n"   // unknown escape
                               "\xff\xfe\x00garbage=5010:3\n" // not UTF-8, with a NUL
                               "no equals sign here\n"
                               "[broken\n"
                               "HIDDEN=5010:4\n" // under a broken header
                               "[other]\n"
                               "KEEP=5005:kept\n"
                               "\n"
                               "\x01\x02\n"
                               "[cip]\n"
                               "LATE=5010:8\n";
    const QByteArray raw(text, sizeof(text) - 1);
    writeFile(file(), raw);

    CZnSettings s(file());
    EXPECT_EQ(intAt(s, "CIPCONTROL"), 1) << "a BOM and CRLF line ends do not hide a good line";
    for (const char* key : {"CIPCONFIRM", "CIPBUILDS", "STRAY", "BADESCAPE", "HIDDEN"})
        EXPECT_FALSE(s.HasValue(section, CZnString(key))) << key;
    EXPECT_FALSE(s.HasValue(CZnString("broken"), CZnString("HIDDEN")));
    EXPECT_EQ(intAt(s, "LATE"), 8) << "a section may come back later in the file";
    EXPECT_EQ(typeAt(s, CZnString("other"), "KEEP"), OdResBuf::kRtString);

    s.SetValue(section, CZnString("CIPCONFIRM"), intValue(0));
    s.SetValue(section, CZnString("CIPCONTROL"), intValue(0));
    s.SetValue(CZnString("new"), CZnString("KEY"), textValue(QStringLiteral("x")));
    const QByteArray after = readFile(file());
    // Every line it could not read is still there, unchanged.
    for (const QByteArray& line : raw.split('\n'))
    {
        if (line.startsWith("CIPCONTROL="))
            continue;
        EXPECT_TRUE(after.contains(line + '\n')) << line.toHex().constData();
    }
    EXPECT_FALSE(after.contains("CIPCONTROL=5010:1")) << "a value it understood is replaced in place";

    CZnSettings again(file());
    EXPECT_EQ(intAt(again, "CIPCONFIRM"), 0);
    EXPECT_EQ(intAt(again, "CIPCONTROL"), 0);
    EXPECT_EQ(intAt(again, "LATE"), 8);
    EXPECT_FALSE(again.HasValue(CZnString("broken"), CZnString("HIDDEN")));
    EXPECT_TRUE(again.HasValue(CZnString("new"), CZnString("KEY")));
}

TEST_F(SettingsStore, ANewKeyJoinsTheLastBlockOfItsSectionAndTheLastDuplicateWins)
{
    writeFile(file(), "[cip]\nA=5010:1\nA=5010:2\n\n[other]\nB=5010:3\n\n");
    CZnSettings s(file());
    EXPECT_EQ(intAt(s, "A"), 2);
    s.SetValue(section, CZnString("A"), intValue(5));
    s.SetValue(section, CZnString("C"), intValue(6));
    EXPECT_EQ(readFile(file()), QByteArray("[cip]\nA=5010:1\nA=5010:5\nC=5010:6\n\n[other]\nB=5010:3\n\n"));
    s.RemoveValue(section, CZnString("A"));
    EXPECT_EQ(readFile(file()), QByteArray("[cip]\nC=5010:6\n\n[other]\nB=5010:3\n\n"))
        << "removing a key takes every line that gave it a value";
}

TEST_F(SettingsStore, AWriteKeepsWhatOthersWroteToTheFileMeanwhile)
{
    CZnSettings mine(file());
    mine.SetValue(section, CZnString("CIPCONTROL"), intValue(1));
    {
        CZnSettings theirs(file());
        theirs.SetValue(CZnString("host"), CZnString("Theme"), textValue(QStringLiteral("dark")));
        theirs.SetValue(section, CZnString("CIPCONTROL"), intValue(0));
    }
    mine.SetValue(section, CZnString("CIPCONFIRM"), intValue(0));
    CZnSettings now(file());
    EXPECT_EQ(intAt(now, "CIPCONFIRM"), 0);
    EXPECT_EQ(intAt(now, "CIPCONTROL"), 0) << "a key we did not write now keeps the other writer's value";
    EXPECT_TRUE(now.HasValue(CZnString("host"), CZnString("Theme")));
    EXPECT_EQ(intAt(mine, "CIPCONTROL"), 1) << "our own view is not refreshed behind our back";
}

TEST_F(SettingsStore, AFileItCannotReadOrAFolderItCannotWriteIsNeverOverwritten)
{
    // A folder where the file should be cannot be read as a settings file (the tests may run as root,
    // for whom permission bits do not stop reading); a plain file where a folder should be cannot hold one.
    ASSERT_TRUE(QDir().mkpath(file()));
    writeFile(file() + QStringLiteral("/inside.txt"), "precious");
    writeFile(path(QStringLiteral("plainfile")), "x");
    for (const QString& name : {file(), path(QStringLiteral("plainfile/profile/settings.ini"))})
    {
        SCOPED_TRACE(name.toStdString());
        CZnSettings s(name);
        EXPECT_FALSE(s.CanStore());
        s.SetValue(section, CZnString("CIPCONTROL"), intValue(1));
        EXPECT_EQ(intAt(s, "CIPCONTROL"), 1) << "kept in memory for this run";
        EXPECT_FALSE(s.CanStore());
    }
    EXPECT_TRUE(QFileInfo(file()).isDir());
    EXPECT_EQ(readFile(file() + QStringLiteral("/inside.txt")), QByteArray("precious"));
    EXPECT_EQ(readFile(path(QStringLiteral("plainfile"))), QByteArray("x"));

    CZnSettings memoryOnly;
    memoryOnly.SetValue(section, CZnString("CIPCONTROL"), intValue(1));
    EXPECT_EQ(intAt(memoryOnly, "CIPCONTROL"), 1);
    EXPECT_TRUE(memoryOnly.CanStore());
}
