// The contract every service keeps: prepare one record, Send it through the category filter, and be
// left with an empty record.
#include "czncipservice_revulytics.h"
#include "czncipservicehelper.h"
#include "hostfixture.h"

#include <QSettings>

#include <memory>

namespace
{
// Runs the shared Send step and writes down what it emitted.
struct Emitted
{
    QStringList events;
    QStringList screens;
};

Emitted sendThroughHelper(const CZnCIPServiceHelper& helper, CZnCIPServiceRecord& record)
{
    Emitted out;
    helper.Send(
        record,
        [&](CZnCIPServiceRecord& r)
        {
            out.events << QStringLiteral("%1|%2|%3|%4")
                              .arg(r.category.toQString(), r.action.toQString(), r.label.toQString())
                              .arg(r.value);
        },
        [&](CZnCIPServiceRecord& r)
        {
            QString line = r.category.toQString();
            for (auto it = r.values.cbegin(); it != r.values.cend(); ++it)
                line += QStringLiteral("|%1=%2").arg(it.key()).arg(it.value().toString());
            out.screens << line;
        });
    return out;
}

void expectEmpty(const CZnCIPServiceRecord& record)
{
    EXPECT_EQ(record.kind, CZnCIPServiceRecord::RecordNone);
    EXPECT_TRUE(record.category.isEmpty());
    EXPECT_TRUE(record.action.isEmpty());
    EXPECT_TRUE(record.label.isEmpty());
    EXPECT_EQ(record.value, 0);
    EXPECT_TRUE(record.values.isEmpty());
}

class ServiceContract : public HostFixture
{
protected:
    CZnCIPServiceHelper helper;
    CZnCIPServiceRecord record;
};
} // namespace

TEST_F(ServiceContract, OnlyAllowedCategoriesAreEmittedAndTheRecordIsAlwaysReset)
{
    const QStringList allowed = {"Commands",   "Unknown Commands", "Screen",       "System",
                                 "OpenGL",     "UserInterface",    "CloudStorage", "Workspace",
                                 "DockWidget", "Toolbar",          "Session"};
    const QStringList blocked = {"Build", "Drawing", "Proxy Entities", "Output", "Performance", "Variables"};
    EXPECT_EQ(helper.allowedCategories, allowed);
    EXPECT_EQ(helper.blockedCategories, blocked);
    // Blocked, allowed only in another case, in neither list, and nothing prepared at all.
    const QStringList refused = blocked + QStringList{"commands", "COMMANDS", "Commands ", "Telemetry", ""};
    for (const QString& category : allowed + refused)
    {
        SCOPED_TRACE(category.toStdString());
        record.SetEvent(category, "Execute", "label", 1);
        const Emitted out = sendThroughHelper(helper, record);
        EXPECT_EQ(out.events,
                  allowed.contains(category) ? QStringList{category + "|Execute|label|1"} : QStringList());
        EXPECT_TRUE(out.screens.isEmpty());
        expectEmpty(record);
    }
    const Emitted unprepared = sendThroughHelper(helper, record);
    EXPECT_TRUE(unprepared.events.isEmpty() && unprepared.screens.isEmpty());
}

TEST_F(ServiceContract, ScreenViewsKeepTheLastValuePerIndexInIndexOrder)
{
    record.SetScreenValue("System", 2, QStringLiteral("B"));
    record.SetScreenValue("System", 1, QStringLiteral("A"));
    record.SetScreenValue("System", 2, QStringLiteral("C"));
    const Emitted out = sendThroughHelper(helper, record);
    EXPECT_TRUE(out.events.isEmpty());
    EXPECT_EQ(out.screens, QStringList{"System|1=A|2=C"});
    expectEmpty(record);

    // A screen view is filtered by its screen name.
    record.SetScreenValue("Drawing", 1, QStringLiteral("A"));
    EXPECT_TRUE(sendThroughHelper(helper, record).screens.isEmpty());
}

TEST_F(ServiceContract, TheLastPreparingCallDecidesTheKind)
{
    // An event turned into a screen view: only the screen view goes, with none of the event's fields.
    record.SetEvent("Commands", "Execute", "LINE", 1);
    record.SetScreenValue("Screen", 1, 5);
    Emitted out = sendThroughHelper(helper, record);
    EXPECT_TRUE(out.events.isEmpty());
    EXPECT_EQ(out.screens, QStringList{"Screen|1=5"});

    // A screen view turned into an event keeps its values until Send, and they go nowhere.
    record.SetScreenValue("Screen", 1, 5);
    record.SetEvent("Commands", "Execute", "LINE", 3);
    EXPECT_EQ(record.values.size(), 1);
    out = sendThroughHelper(helper, record);
    EXPECT_EQ(out.events, QStringList{"Commands|Execute|LINE|3"});
    EXPECT_TRUE(out.screens.isEmpty());
    expectEmpty(record);
}

TEST_F(ServiceContract, InertServiceAcceptsEverythingAndHasNoClient)
{
    std::unique_ptr<CZnCIPService> service(new CZnCIPService_Revulytics);
    service->SetEvent("Commands", "Execute", "LINE", 1);
    service->SetScreenValue("System", "n", 1, CZnString("A"));
    service->SetScreenValue("System", "n", 2, 2);
    service->SetScreenValue("System", "n", 3, 2.5);
    service->Send();
    service->StartSession();
    service->StopSession(2, "/nonexistent");
    service->EndSession();
    EXPECT_TRUE(service->GetClientId().isEmpty());
    // Unlike the real service, it writes no client identifier into the application settings.
    EXPECT_FALSE(QSettings().contains("CIP_ClientId"));
}
