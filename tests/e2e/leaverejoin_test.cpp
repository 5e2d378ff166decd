// A user who joined leaves in Tools > Options in the middle of a run, stays out for a whole run, then
// joins again. The script step "tick" runs the module's send step as its 30-second timer would and
// lets the sends it starts finish; only the last run waits for the real timer.
#include "e2efixture.h"

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
