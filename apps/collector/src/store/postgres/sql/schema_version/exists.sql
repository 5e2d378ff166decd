-- Whether the database holds a schema version at all.
SELECT to_regclass('schema_version') IS NOT NULL
