-- Every rollup key with its texts, read once for a period's rollups, after its counts.
SELECT id, scope, application, version, type, category, action, label FROM rollup_keys
