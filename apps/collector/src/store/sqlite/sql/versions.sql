-- The application versions that sent accepted hits (keys of scope 2), in order.
SELECT DISTINCT version FROM rollup_keys WHERE scope = 2 ORDER BY version
