-- The schema version of the database.
SELECT coalesce(max(version), 0) FROM schema_version
