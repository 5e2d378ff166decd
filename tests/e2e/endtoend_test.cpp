// One user's four runs: a declined question, a join for the next version, a run that sends and then
// crashes, and a run that reports that crash. Another user who leaves and joins again in Tools > Options.
#include "e2efixture.h"

#include <QLocale>
#include <QThread>

using EndToEnd = EndToEndFixture;

TEST_F(EndToEnd, OneUsersRunsArriveExactlyAndInOrder)
{
    // Run 0, an older version: the user declines. Nothing of it may ever arrive.
    ASSERT_EQ(runHost("run0", "answer decline\ntype DECLINEDMARK\nquit\n", "[version]\nstring=21.2.0\n"), 0)
        << m_output.toStdString();
    // Run 1, the new version asks again; the user joins. No tick: what it records is stored at the end
    // of its session and leaves with the next run.
    ASSERT_EQ(runHost("run1", "answer join\ntype LINE\ntype hello\ntype SQUIGGLE\ntype ERASE\nquit\n"), 0)
        << m_output.toStdString();
    EXPECT_EQ(m_output.count("join question answered"), 2) << m_output.toStdString();
    EXPECT_TRUE(hits().isEmpty());

    // Run 2: machine facts, then what run 1 stored, the session start and the report of the earlier
    // runs (both good); then it crashes after the send, losing what it recorded since.
    EXPECT_NE(runHost("run2", "type PLINE\ntick\ntype MOVE\ncrash\n"), 0);
    const QList<Hit> run2 = hits();
    const QStringList got = events(run2);
    ASSERT_EQ(got.size(), 18) << got.join('\n').toStdString();
    EXPECT_EQ(got.mid(0, 3),
              (QStringList{"System|DPI|125|1",
                           QStringLiteral("System|Thread Count|%1|1").arg(QThread::idealThreadCount()),
                           "System|Screen Count|1|1"}));
    EXPECT_TRUE(got[3].startsWith("System|OS|")) << got[3].toStdString();
    EXPECT_TRUE(got[4].startsWith("System|Memory|")) << got[4].toStdString();
    EXPECT_TRUE(got[5].startsWith("Screen|Resolution|")) << got[5].toStdString();
    EXPECT_EQ(got.mid(6),
              (QStringList{"OpenGL|Renderer COMPATIBILITY|Test Renderer|1", "OpenGL|Version COMPATIBILITY|ACME:4.5|1",
                           "Commands|Execute|LINE (ZNDRAW)|1", "Commands|Execute|HELLO ()|1",
                           "Unknown Commands|Execute|SQUIGGLE|1", "Commands|Execute|ERASE (ZNMODIFY)|1",
                           "Session|Start||", "Session|Good|Good|1", "Session|Global|Global|1",
                           "Session|Good|Good|1", "Session|Global|Global|1",
                           "Commands|Execute|PLINE (ZNDRAW)|1"}));
    EXPECT_EQ(run2.at(12).value("sc"), "start");
    EXPECT_EQ(run2.at(12).keys().last(), "sc");

    // Every hit carries the same identity, in the protocol's order.
    const QString locale = QLocale::system().name().toLower().replace('_', '-');
    const QStringList identity{"1", "UA-582047-16", run2.first().value("cid"), locale, "1", "ZnCAD SP1 x64", "21.2.1"};
    EXPECT_EQ(identity[2].size(), 36);
    for (const Hit& h : run2)
    {
        EXPECT_EQ(h.keys().mid(0, 8), (QStringList{"v", "tid", "cid", "t", "ul", "qt", "an", "av"}));
        EXPECT_EQ((QStringList{h.value("v"), h.value("tid"), h.value("cid"), h.value("ul"), h.value("qt"),
                               h.value("an"), h.value("av")}),
                  identity);
    }

    // Run 3: the crashed run is reported once, as bad with its crash report.
    ASSERT_EQ(runHost("run3", "tick\nquit\n"), 0) << m_output.toStdString();
    const QList<Hit> all = hits();
    const QStringList run3 = events(all.mid(run2.size()));
    const int report = run3.indexOf("Session|Bad|With_Crash_Report|1");
    ASSERT_GE(report, 0) << run3.join('\n').toStdString();
    EXPECT_EQ(run3.mid(report), (QStringList{"Session|Bad|With_Crash_Report|1", "Session|Bad|Bad|1",
                                             "Session|Global|Global|1"}));
    EXPECT_EQ(run3.filter("Session|Good").size(), 0);
    EXPECT_EQ(all.last().value("cid"), identity[2]);
    EXPECT_EQ(events(all).filter("DECLINEDMARK").size(), 0);
}

using LeaveRejoin = EndToEndFixture;

TEST_F(LeaveRejoin, NothingRecordedAfterLeavingArrivesAndJoiningAgainSendsAgain)
{
    // What has arrived so far, one event after the other.
    const auto arrived = [this] { return events(hits()).join("; ").toStdString(); };
    const std::string line = "Commands|Execute|LINE (ZNDRAW)|1", arc = "Commands|Execute|ARC (ZNDRAW)|1";

    // Run 1 joins and LINE goes out. PLINE and OPTIONS are queued, then the user leaves (OPTIONS typed
    // on the command line opens the page; Participate cleared, OK): CIRCLE is not recorded at all, and
    // the next tick discards the queue, so after joining again in the same run ARC goes out alone.
    // Leaving once more, HATCH is not recorded and nothing is kept for the next run.
    ASSERT_EQ(runHost("run1",
                      "answer join\ntype LINE\ntick\ntype PLINE\ntype OPTIONS\noptions participate off\n"
                      "type CIRCLE\ntick\noptions participate on\ntype ARC\ntick\n"
                      "options participate off\ntype HATCH\ntick\nquit\n"),
              0)
        << m_output.toStdString();
    EXPECT_EQ(arrived(), line + "; " + arc);
    EXPECT_EQ(m_output.count("Options: not participating"), 2) << m_output.toStdString();

    // Run 2 starts out of the program: no machine facts, no session, no command, nothing sent.
    ASSERT_EQ(runHost("run2", "type ZOOM\ntick\nquit\n"), 0) << m_output.toStdString();
    EXPECT_EQ(arrived(), line + "; " + arc);

    // Run 3: the user joins again in Options; the module records from then on and sends on its own
    // 30-second timer.
    ASSERT_EQ(runHost("run3", "type OPTIONS\noptions participate on\ntype MOVE\n"
                              "wait-until 37000 the module's send tick\nquit\n"),
              0)
        << m_output.toStdString();
    EXPECT_EQ(arrived(), line + "; " + arc + "; Commands|Execute|MOVE (ZNMODIFY)|1");
}
