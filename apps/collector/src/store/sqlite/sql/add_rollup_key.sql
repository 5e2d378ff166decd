-- A rollup key seen for the first time: scope, application, version, type, category, action, label.
INSERT INTO rollup_keys (scope, application, version, type, category, action, label) VALUES (?, ?, ?, ?, ?, ?, ?)
