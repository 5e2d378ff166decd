-- Schema 2: hits found by verdict and time (dropped again by schema 3).
    CREATE INDEX hits_by_verdict ON hits (accepted, received_us);
