// A profile's settings file as the host finds it on disk. Whatever it holds, a value set is read back
// by the next reader with its type and text, the file's other lines survive the write, and a value
// removed is gone for the next reader.
#include "cznsettings.h"
#include "fuzzhost.h"
#include "odresbuf.h"

#include <cstdlib>

namespace
{
QString settingsFile;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

int lineCount(const QByteArray& text)
{
    return text.count('\n') + (text.isEmpty() || text.endsWith('\n') ? 0 : 1);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startFuzzApplication();
    settingsFile = fuzzFolder() + QStringLiteral("/profile/settings.ini");
    QDir().mkpath(fuzzFolder() + QStringLiteral("/profile"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    require(writeFile(settingsFile, data, size));
    const QByteArray before = readFile(settingsFile);
    // The input also gives the text stored, with every character a reader of the file may trip over.
    const QString text = QString::fromUtf8(before.left(64));
    const CZnString section("fuzz section"), key("k=1;[x]");
    {
        CZnSettings settings(settingsFile);
        require(settings.CanStore());
        OdResBufPtr value = OdResBuf::newRb(OdResBuf::kRtString);
        value->setString(CZnString(text).toOdString());
        settings.SetValue(section, key, value);
    }
    require(lineCount(readFile(settingsFile)) >= lineCount(before));
    {
        const CZnSettings reader(settingsFile);
        const OdResBufPtr back = reader.GetValue(section, key, OdResBuf::kRtString);
        require(back && back->restype() == OdResBuf::kRtString);
        require(CZnString(back->getString()).toQString() == text);
    }
    CZnSettings(settingsFile).RemoveValue(section, key);
    require(!CZnSettings(settingsFile).HasValue(section, key));
    return 0;
}
