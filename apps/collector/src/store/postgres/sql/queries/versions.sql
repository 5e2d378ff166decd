-- The application versions that sent hits: those of the Application keys.
SELECT DISTINCT version FROM rollup_keys WHERE scope = 2 ORDER BY version
