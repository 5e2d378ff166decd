// Bodies built the way the module builds them (QUrlQuery serialised with QUrl::FullyEncoded) must
// decode back to what the module meant, with the one documented exception: '+' stays unencoded and
// therefore reads as a blank.

#include "form.h"

#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace zncip::collector
{
namespace
{

std::string encodeLikeModule(const std::vector<std::pair<QString, QString>>& items)
{
    QUrlQuery query;
    for (const auto& [key, value] : items)
        query.addQueryItem(key, value);
    return query.query(QUrl::FullyEncoded).toStdString();
}

std::string decodedValue(const std::string& body, const std::string& name)
{
    for (const FormField& f : decodeForm(body).fields)
        if (f.name == name)
            return f.value;
    ADD_FAILURE() << name << " missing in " << body;
    return {};
}

TEST(ModuleEncoding, LabelsSurviveTheRoundTrip)
{
    const QString labels[] = {QStringLiteral("LINE (GROUPA)"),     QStringLiteral("LINE ()"),
                              QString::fromUtf8("Ünïcödé 図面 ✓"), QStringLiteral("100% done"),
                              QStringLiteral("a&b=c;d"),           QStringLiteral("Windows 10 [AMD64]"),
                              QStringLiteral("1920 x 1080"),       QStringLiteral("ACME:4.5 (Core Profile)")};
    for (const QString& label : labels)
    {
        const std::string body = encodeLikeModule({{"ec", "Commands"}, {"el", label}});
        SCOPED_TRACE(body);
        const DecodedForm form = decodeForm(body);
        EXPECT_FALSE(form.badPercent);
        EXPECT_FALSE(form.badUtf8);
        EXPECT_EQ(decodedValue(body, "el"), label.toStdString());
    }
}

TEST(ModuleEncoding, BlanksArePercentEncodedAndNonAsciiIsUtf8)
{
    const std::string body = encodeLikeModule({{"el", QString::fromUtf8("LINE (Ä)")}});
    EXPECT_EQ(body, "el=LINE%20(%C3%84)");
}

TEST(ModuleEncoding, LiteralPlusArrivesAsBlank)
{
    const std::string body = encodeLikeModule({{"el", QStringLiteral("C++ (TOOLS)")}, {"ea", "a+b"}});
    ASSERT_EQ(body, "el=C++%20(TOOLS)&ea=a+b"); // the module does not encode '+'
    EXPECT_EQ(decodedValue(body, "el"), "C   (TOOLS)");
    EXPECT_EQ(decodedValue(body, "ea"), "a b");
    // A client that does encode it gets its plus.
    EXPECT_EQ(decodedValue("el=C%2B%2B", "el"), "C++");
}

TEST(FormDecoding, KeepsOrderDuplicatesAndEmptyValues)
{
    const DecodedForm form = decodeForm("b=2&&a=1&b=3&flag&=orphan&c=");
    ASSERT_EQ(form.fields.size(), 6u);
    const std::pair<const char*, const char*> expected[] = {{"b", "2"},   {"a", "1"},     {"b", "3"},
                                                            {"flag", ""}, {"", "orphan"}, {"c", ""}};
    for (size_t i = 0; i < 6; ++i)
    {
        EXPECT_EQ(form.fields[i].name, expected[i].first);
        EXPECT_EQ(form.fields[i].value, expected[i].second);
    }
    EXPECT_TRUE(decodeForm("").fields.empty());
}

TEST(FormDecoding, FlagsBrokenEscapesAndKeepsThemLiterally)
{
    for (const char* body : {"el=100%", "el=%4", "el=%zz1", "e%l=1"})
    {
        SCOPED_TRACE(body);
        EXPECT_TRUE(decodeForm(body).badPercent);
    }
    EXPECT_EQ(decodedValue("el=%zz%41", "el"), "%zzA");
    EXPECT_FALSE(decodeForm("el=%41%6a").badPercent);
}

TEST(FormDecoding, FlagsInvalidUtf8)
{
    for (const char* body : {"el=%FF", "el=%C3", "el=%C0%AF", "el=%ED%A0%80", "el=%F4%90%80%80", "%FE=1"})
    {
        SCOPED_TRACE(body);
        EXPECT_TRUE(decodeForm(body).badUtf8);
    }
    EXPECT_FALSE(decodeForm("el=%F0%9F%98%80").badUtf8);
    EXPECT_EQ(sanitizeUtf8("a\xFF"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
}

} // namespace
} // namespace zncip::collector
