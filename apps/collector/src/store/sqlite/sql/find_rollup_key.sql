-- The id of a rollup key: scope, application, version, type, category, action, label.
SELECT id FROM rollup_keys
WHERE scope = ? AND application = ? AND version = ? AND type = ? AND category = ? AND action = ? AND label = ?
