#pragma once

// The statistics of one performance timer. Times are in milliseconds.
struct CZnIncrementalTimerInfo
{
    int visits;   // how often the timed operation ran
    double total; // time of all runs together
    double best;  // shortest run
    double worst; // longest run
    double last;  // the most recent run
};
