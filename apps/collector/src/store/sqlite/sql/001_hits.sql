-- Schema 1: every hit as it arrived, with the verdict given to it.
-- SQLite keeps the text of each CREATE as written, so the statements keep the indentation earlier builds
-- wrote them with: a database then reads the same whichever build made it.
    CREATE TABLE hits (
        id          INTEGER PRIMARY KEY,
        received_us INTEGER NOT NULL,
        path        TEXT    NOT NULL,
        body        BLOB    NOT NULL,
        accepted    INTEGER NOT NULL,
        reason      TEXT    NOT NULL,
        user_agent  TEXT    NOT NULL
    );
