-- The schema versions applied to the database, and when.
CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL, applied timestamptz NOT NULL DEFAULT now())
