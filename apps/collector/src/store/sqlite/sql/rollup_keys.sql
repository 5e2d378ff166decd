-- Every rollup key with its texts, read once for a period's rollups so that its daily counts carry only
-- the key's id.
SELECT id, scope, application, version, type, category, action, label FROM rollup_keys
