-- Records that a migration was applied.
INSERT INTO schema_version (version) VALUES ($1::integer)
